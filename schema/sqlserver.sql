-- The Corvane tables that Telwick reads, for Microsoft SQL Server (T-SQL).
IF DB_ID(N'Corvane') IS NULL CREATE DATABASE Corvane;
GO
USE Corvane;
GO
IF OBJECT_ID(N'dbo.t_computer', N'U') IS NULL
CREATE TABLE dbo.t_computer (
    computernr   int NOT NULL PRIMARY KEY,
    computername nvarchar(64) NOT NULL,
    domainname   nvarchar(64) NOT NULL DEFAULT N'',
    statusnr     int NOT NULL DEFAULT 1
);
GO
IF OBJECT_ID(N'dbo.t_description', N'U') IS NULL
CREATE TABLE dbo.t_description (
    descriptionnr     int NOT NULL,
    descriptiontypenr int NOT NULL,  -- 17 message texts, 18 event types, 19 levels
    lang              int NOT NULL,
    description       nvarchar(1024) NULL,
    CONSTRAINT pk_description PRIMARY KEY (descriptiontypenr, lang, descriptionnr)
);
GO
IF OBJECT_ID(N'dbo.t_eventLog', N'U') IS NULL
CREATE TABLE dbo.t_eventLog (
    eventlognr  int IDENTITY(1,1) NOT NULL PRIMARY KEY,
    computernr  int NOT NULL,
    eventtypenr int NOT NULL,
    levelnr     int NOT NULL,
    messagenr   int NOT NULL,
    parameter   nvarchar(2048) NULL
);
GO

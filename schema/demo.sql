-- A small demo data set. Plain INSERTs that SQLite, PostgreSQL and SQL Server
-- all accept; the event numbers are given by the database, rising.
INSERT INTO t_computer (computernr, computername, domainname, statusnr) VALUES
    (1, 'FILESERVER', 'CORVANE', 1),
    (2, 'MAILHOST', 'CORVANE', 1),
    (3, 'WS-ACCOUNTING', 'CORVANE', 1),
    (4, 'OLD-PRINTSRV', 'CORVANE', 0),
    (5, 'LAB-07', 'LAB', 2);

-- Event types (kind 18), sorted by name in the editor.
INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES
    (1, 18, 1, 'System'),
    (2, 18, 1, 'Application'),
    (3, 18, 1, 'Security'),
    (4, 18, 1, 'Backup'),
    (1, 18, 2, 'System'),
    (2, 18, 2, 'Anwendung'),
    (3, 18, 2, 'Sicherheit'),
    (4, 18, 2, 'Datensicherung');

-- Event levels (kind 19), offered in the order of their numbers.
INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES
    (1, 19, 1, 'Information'),
    (2, 19, 1, 'Warning'),
    (3, 19, 1, 'Error'),
    (4, 19, 1, 'Audit'),
    (5, 19, 1, 'Critical'),
    (1, 19, 2, 'Information'),
    (2, 19, 2, 'Warnung'),
    (3, 19, 2, 'Fehler'),
    (4, 19, 2, 'Revision'),
    (5, 19, 2, 'Kritisch');

-- Message texts (kind 17); %1 to %5 take the event's parameters.
INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES
    (1, 17, 1, 'Disk %1 is %2% full'),
    (2, 17, 1, 'Service %1 stopped unexpectedly'),
    (3, 17, 1, 'Backup of %1 finished with %2 errors'),
    (4, 17, 1, 'User %1 failed to log on from %2'),
    (5, 17, 1, 'Server %1 restarted'),
    (1, 17, 2, 'Laufwerk %1 ist zu %2% voll'),
    (2, 17, 2, 'Dienst %1 wurde unerwartet beendet'),
    (3, 17, 2, 'Sicherung von %1 mit %2 Fehlern beendet'),
    (4, 17, 2, 'Anmeldung von %1 an %2 fehlgeschlagen'),
    (5, 17, 2, 'Server %1 neu gestartet');

-- A few events: computer, type, level, message, parameters.
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (1, 1, 2, 1, 'D:;85');
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (2, 2, 3, 2, 'Exchange Transport');
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (1, 4, 1, 3, 'FILESERVER;0');
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (3, 3, 4, 4, 'jdoe;WS-ACCOUNTING');
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (3, 1, 5, 1, 'C:;95');
INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES
    (2, 1, 1, 5, NULL);

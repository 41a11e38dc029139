-- The Corvane tables that Telwick reads, for a SQLite file.
-- The collector writes them; Telwick opens the file read-only.
CREATE TABLE IF NOT EXISTS t_computer (
    computernr   INTEGER PRIMARY KEY,
    computername TEXT NOT NULL,
    domainname   TEXT NOT NULL DEFAULT '',
    statusnr     INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE IF NOT EXISTS t_description (
    descriptionnr     INTEGER NOT NULL,
    descriptiontypenr INTEGER NOT NULL,  -- 17 message texts, 18 event types, 19 levels
    lang              INTEGER NOT NULL,
    description       TEXT,
    PRIMARY KEY (descriptiontypenr, lang, descriptionnr)
);

-- eventlognr is the rowid: every new event gets a larger number.
CREATE TABLE IF NOT EXISTS t_eventLog (
    eventlognr  INTEGER PRIMARY KEY AUTOINCREMENT,
    computernr  INTEGER NOT NULL,
    eventtypenr INTEGER NOT NULL,
    levelnr     INTEGER NOT NULL,
    messagenr   INTEGER NOT NULL,
    parameter   TEXT
);

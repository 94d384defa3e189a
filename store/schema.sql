-- The tables of a schedule's database file. Each version adds to the ones before it. A new file is
-- made from this whole text (sqlite3 FILE < schema.sql); the program brings a file made by an
-- earlier version up to the newest, in one transaction, the first time it writes to it.

-- Version 1: the schedule and the record of its runs.

-- The schedule, one row per entry, in the order the list shows its columns. ProgramIndex is
-- filled in by the database when a row is inserted.
CREATE TABLE QZProgram (
  ProgramIndex INTEGER PRIMARY KEY AUTOINCREMENT,
  ProgramName TEXT,
  ProgramParameter TEXT,
  ProgramTime INTEGER,
  ProgramCount INTEGER
);

-- The record of every run, the latest 10,000. The columns without a type keep every value as it
-- came: the program's bytes as stored, a key that is not a number as its text. RunId, Process,
-- ProcessStart and Runner find what a runner that is gone left running.
CREATE TABLE QZRunLog (
  RunIndex INTEGER PRIMARY KEY AUTOINCREMENT,
  ProgramIndex,
  ProgramName,
  ProgramParameter,
  Opener,
  Started INTEGER NOT NULL,
  Lifetime INTEGER NOT NULL,
  Ending TEXT NOT NULL,
  Status INTEGER,
  Detail TEXT,
  Collected INTEGER,
  RunId TEXT,
  Process INTEGER,
  ProcessStart INTEGER,
  Runner TEXT
);

PRAGMA user_version = 1;

-- Version 2: the options of entries, one row for an entry that has any.

CREATE TABLE QZProgramOption (
  ProgramIndex     INTEGER PRIMARY KEY, -- the entry's key in QZProgram
  WorkingDirectory TEXT,                -- NULL: the runner's own
  Environment      TEXT,                -- NAME=value lines; NULL: none added
  EndGrace         INTEGER,             -- NULL or 0: ended at once; 1-60: SIGTERM first, the rest after that many seconds
  EarlyExit        TEXT,                -- NULL or 'wait', 'restart', 'next', 'stop'
  MaxRestarts      INTEGER,             -- with 'restart': at most this many (NULL: 3)
  KeepOutput       INTEGER,             -- NULL or 0: output as the runner's; 1: kept in a log
  OwnScope         INTEGER,             -- NULL or 0: as today; 1: a scope of its own
  MemoryMax        TEXT,                -- with OwnScope: as systemd writes it ('512M'); NULL: none
  CPUQuota         TEXT                 -- with OwnScope: as systemd writes it ('50%'); NULL: none
);

PRAGMA user_version = 2;

-- The tables of a schedule's database file, in the order the list shows their columns.

-- The schedule, one row per entry. ProgramIndex is filled in by the database when a row is
-- inserted.
CREATE TABLE QZProgram (
  ProgramIndex INTEGER PRIMARY KEY AUTOINCREMENT,
  ProgramName TEXT,
  ProgramParameter TEXT,
  ProgramTime INTEGER,
  ProgramCount INTEGER
);

-- The record of every run, the latest 10,000. The columns without a type keep every value as it
-- came: the program's bytes as stored, a key that is not a number as its text. RunId, Process,
-- ProcessStart and Runner find what a runner that is gone left running; a table made before
-- they were is given them when the program first writes to it.
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

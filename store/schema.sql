-- The schedule table, one row per schedule entry, in the order the list shows the columns.
-- ProgramIndex is filled in by the database when a row is inserted.
CREATE TABLE QZProgram (
  ProgramIndex INTEGER PRIMARY KEY AUTOINCREMENT,
  ProgramName TEXT,
  ProgramParameter TEXT,
  ProgramTime INTEGER,
  ProgramCount INTEGER
);

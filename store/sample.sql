-- Two harmless entries for a freshly prepared database, so the list has something to show.
INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, ProgramCount)
VALUES ('sleep', '30', 5, 2);
INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, ProgramCount)
VALUES ('sleep', '60', 3, 1);

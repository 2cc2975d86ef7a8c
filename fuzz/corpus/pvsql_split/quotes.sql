INSERT INTO Names (lastName) VALUES ('a;b'); SELECT [x;y] = 1; SELECT "c;d" FROM Names;
SELECT 'It''s; fine'

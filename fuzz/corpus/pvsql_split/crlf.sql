USE Portavento
GO
SELECT name FROM sys.tables;
SELECT COUNT(*) FROM Names
GO

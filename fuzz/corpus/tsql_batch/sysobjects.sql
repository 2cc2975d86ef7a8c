IF NOT EXISTS (SELECT * FROM sysobjects WHERE name = 'Emails' AND xtype = 'U') SELECT 1
SELECT name FROM sys.tables
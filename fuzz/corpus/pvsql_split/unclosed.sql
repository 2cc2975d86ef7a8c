SELECT 'open;
GO
SELECT [open;
GO
SELECT 1 /* open ;

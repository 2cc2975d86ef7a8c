SELECT * FROM Names n JOIN UpdateQueue AS q ON q.resId = n.id, (SELECT * FROM Names) x
SELECT TOP 1 n.*, q.*, dbo.Names.* FROM dbo.Names AS n, UpdateQueue q, Names WITH (NOLOCK)
INSERT INTO Names SELECT * FROM Names WHERE id = 1
ALTER TABLE Names ADD extra int NULL
INSERT INTO Names VALUES (N'R', N'x', 0, NULL, GETDATE(), 1)

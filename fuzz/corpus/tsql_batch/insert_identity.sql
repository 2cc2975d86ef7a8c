SET IDENTITY_INSERT Names ON
Insert Into Names (id, resType, lastName, hide) Values (-1, N'R', N'Roe', 0)
SET IDENTITY_INSERT Names OFF
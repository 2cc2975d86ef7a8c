SET NOCOUNT ON
GO
Delete From UpdateQueue Where id = 1;

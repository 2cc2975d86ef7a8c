Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', 1, 12)
Select Top 1 * From UpdateQueue Order By id
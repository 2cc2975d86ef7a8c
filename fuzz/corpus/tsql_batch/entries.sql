Insert Into Entries (entryId, entryName, version) Values (2, N'Back door', N'1.1')
Update Entries Set version = '' Where entryId = 2
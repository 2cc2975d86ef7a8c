Insert Into Entries (entryId, version) Values (2, N'1.1')
Update Entries Set version = '' Where entryId = 2
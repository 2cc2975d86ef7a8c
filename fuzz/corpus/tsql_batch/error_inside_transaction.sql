BEGIN TRAN
Update Names Set hide = 1
ROLLBACK TRAN
BEGIN TRANSACTION; DELETE FROM Names; COMMITששששששששששששששששששששששששששששששששששששששששש
GO

   
GO
;;;
GO 2

CREATE TABLE [dbo].[Emails] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NULL,
  [email] [nvarchar](100) NULL,
  [iPhoneDeviceId] [nvarchar](250) NULL,
  CONSTRAINT [PK_Emails] PRIMARY KEY CLUSTERED ([id] ASC)
) ON [PRIMARY]
GO
Insert Into Emails (resId, email) Values (1, N'a@example.com')

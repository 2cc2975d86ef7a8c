IF NOT EXISTS (SELECT * FROM sys.databases WHERE name = N'Portavento')
CREATE DATABASE [Portavento]
GO
USE [Portavento]
GO
CREATE TABLE [dbo].[Settings] (
  [name] [nvarchar](100) NULL,
  [zip] [nvarchar](20) NULL
)
GO

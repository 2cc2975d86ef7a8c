-- The central home database shared by all installations: the tables that
-- PVRemote reads and writes there, plus what the central side needs to
-- describe its own changes. Run it in an empty database, e.g.
--   pvsql -S localhost,1433 -Q "Create Database PVHome"
--   pvsql -S localhost,1433 -d PVHome -i central_home.sql
-- It runs unchanged on SQL Server.

-- One row per installation. id is the installation id sent with "VDID";
-- installationID is the 50-letter key the site identifies itself with.
CREATE TABLE [dbo].[Installations] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [installationID] [nvarchar](50) NULL,
  [locName] [nvarchar](100) NULL,
  [sqlPWD] [nvarchar](128) NULL,
  [zip] [nvarchar](20) NULL,
  CONSTRAINT [PK_Installations] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

-- Residents' e-mail rows of every installation: emailId and resId are the
-- ids of the site's own Emails and Names rows.
CREATE TABLE [dbo].[Emails] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [instId] [int] NOT NULL,
  [emailId] [int] NULL,
  [resId] [int] NULL,
  [email] [nvarchar](100) NULL,
  [iPhoneDeviceId] [nvarchar](250) NULL,
  CONSTRAINT [PK_Emails] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

-- Alerts the central side sends to residents (alertType 'Package' for a
-- parcel waiting to be picked up).
CREATE TABLE [dbo].[ClientQueue] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [instId] [int] NOT NULL,
  [resId] [int] NULL,
  [alertType] [nvarchar](50) NULL,
  CONSTRAINT [PK_ClientQueue] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

-- Changes made on the central side, one row each, announced to the
-- installation instId with "UPDA" and four fields (separated by the section
-- sign): id, recordId (the resident the change concerns), tableName (the
-- change kind) and itemId (the additional photo's id where the kind has one).
CREATE TABLE [dbo].[UpdateQueue] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [instId] [int] NOT NULL,
  [recordId] [int] NULL,
  [tableName] [nvarchar](50) NOT NULL,
  [itemId] [int] NULL,
  CONSTRAINT [PK_UpdateQueue] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

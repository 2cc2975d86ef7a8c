-- The local entry-control database "Portavento": every table and column that
-- PVRemote reads or writes on a site. Run it in an empty database, e.g.
--   pvsql -S localhost,1433 -Q "Create Database Portavento"
--   pvsql -S localhost,1433 -d Portavento -i local_portavento.sql
-- It runs unchanged on SQL Server (sqlcmd -d Portavento -i ...).
--
-- Ids that the entry-control system assigns itself are IDENTITY columns;
-- lookup tables (Entries, Packages_Types, Packages_Settings) carry ids chosen
-- by whoever fills them. Settings gets its column installationID from the
-- service on the first identification, so it is not created here.
-- Names.mailRoomID exists only on sites with a mail room;
-- local_drop_mailroom.sql removes it again.

CREATE TABLE [dbo].[Settings] (
  [name] [nvarchar](100) NULL,
  [zip] [nvarchar](20) NULL
)
GO

CREATE TABLE [dbo].[UpdateQueue] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [tableName] [nvarchar](50) NULL,
  [resId] [int] NULL,
  [recordId] [int] NULL,
  CONSTRAINT [PK_UpdateQueue] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Names] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resType] [nvarchar](1) NULL,
  [lastName] [nvarchar](50) NULL,
  [firstName] [nvarchar](50) NULL,
  [suite] [nvarchar](50) NULL,
  [company] [nvarchar](100) NULL,
  [sortfield] [nvarchar](160) NULL,
  [hide] [bit] NULL,
  [priority] [bit] NULL,
  [inZone] [nvarchar](50) NULL,
  [floor] [nvarchar](10) NULL,
  [phone1] [nvarchar](16) NULL,
  [phone2] [nvarchar](16) NULL,
  [phone3] [nvarchar](16) NULL,
  [button1Type] [nvarchar](1) NULL,
  [button2Type] [nvarchar](1) NULL,
  [button3Type] [nvarchar](1) NULL,
  [button1Loc] [nvarchar](25) NULL,
  [button2Loc] [nvarchar](25) NULL,
  [button3Loc] [nvarchar](25) NULL,
  [button1Comm] [nvarchar](100) NULL,
  [button2Comm] [nvarchar](100) NULL,
  [button3Comm] [nvarchar](100) NULL,
  [relay1] [nvarchar](10) NULL,
  [relay2] [nvarchar](10) NULL,
  [relay3] [nvarchar](10) NULL,
  [relay1board] [nvarchar](10) NULL,
  [relay2board] [nvarchar](10) NULL,
  [relay3board] [nvarchar](10) NULL,
  [relay1length] [int] NULL,
  [relay2length] [int] NULL,
  [relay3length] [int] NULL,
  [hideBut1] [bit] NULL,
  [hideBut2] [bit] NULL,
  [hideBut3] [bit] NULL,
  [notes1] [nvarchar](4000) NULL,
  [notes2] [nvarchar](4000) NULL,
  [photo] [varbinary](max) NULL,
  [photoDescr] [nvarchar](100) NULL,
  [dmCode] [nvarchar](8) NULL,
  [mailRoomID] [bigint] NULL,
  CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Emails] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NULL,
  [email] [nvarchar](100) NULL,
  [iPhoneDeviceId] [nvarchar](250) NULL,
  CONSTRAINT [PK_Emails] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[TenantAccess] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NULL,
  [code] [nvarchar](15) NULL,
  [descr] [nvarchar](50) NULL,
  [codeDates] [bit] NULL,
  [codeDays] [bit] NULL,
  [codeTimes] [bit] NULL,
  [codeStartDate] [datetime] NULL,
  [codeEndDate] [datetime] NULL,
  [codeStartTime] [datetime] NULL,
  [codeEndTime] [datetime] NULL,
  [codeMon] [bit] NULL,
  [codeTue] [bit] NULL,
  [codeWed] [bit] NULL,
  [codeThr] [bit] NULL,
  [codeFri] [bit] NULL,
  [codeSat] [bit] NULL,
  [codeSun] [bit] NULL,
  [numericalCode] [nvarchar](15) NULL,
  [accessType0] [bit] NULL,
  [accessType1] [bit] NULL,
  [accessType2] [bit] NULL,
  [accessType3] [bit] NULL,
  [accessType4] [bit] NULL,
  [accessType5] [bit] NULL,
  CONSTRAINT [PK_TenantAccess] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Notification] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NOT NULL,
  [email] [nvarchar](100) NOT NULL,
  CONSTRAINT [PK_Notification] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[NotificationF] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NOT NULL,
  [email] [nvarchar](100) NOT NULL,
  CONSTRAINT [PK_NotificationF] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Packages] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [nameId] [int] NOT NULL,
  [packageType] [int] NOT NULL,
  [packageDate] [datetime] NULL,
  [pickupDate] [datetime] NULL,
  CONSTRAINT [PK_Packages] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Packages_Types] (
  [id] [int] NOT NULL,
  [packageTypeLongName] [nvarchar](75) NULL,
  [packageTypeImage] [nvarchar](50) NULL,
  CONSTRAINT [PK_Packages_Types] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Packages_Settings] (
  [id] [int] NOT NULL,
  [mailRoomName] [nvarchar](50) NULL,
  CONSTRAINT [PK_Packages_Settings] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[Entries] (
  [entryId] [smallint] NOT NULL,
  [entryName] [nvarchar](100) NULL,
  [mesLine1] [nvarchar](50) NULL,
  [mesLine2] [nvarchar](50) NULL,
  [mesLine3] [nvarchar](50) NULL,
  [version] [nvarchar](15) NULL,
  CONSTRAINT [PK_Entries] PRIMARY KEY CLUSTERED ([entryId] ASC)
)
GO

CREATE TABLE [dbo].[Logs] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [entryId] [smallint] NULL,
  [residentId] [int] NULL,
  [aDateTime] [datetime] NULL,
  [action] [nvarchar](100) NULL,
  [data] [nvarchar](250) NULL,
  [computerName] [nvarchar](250) NULL,
  [photo] [varbinary](max) NULL,
  [photo2] [varbinary](max) NULL,
  CONSTRAINT [PK_Logs] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[AdditionalPhotos] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [label] [nvarchar](100) NULL,
  [resId] [int] NULL,
  [photo] [varbinary](max) NULL,
  CONSTRAINT [PK_AdditionalPhotos] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

-- Door-panel button assignments and VoIP zone memberships of residents; the
-- service only removes a deleted resident's rows from them.
CREATE TABLE [dbo].[STRPanelButtons] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NULL,
  [panelId] [int] NULL,
  [buttonNumber] [int] NULL,
  CONSTRAINT [PK_STRPanelButtons] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

CREATE TABLE [dbo].[VoIPInZone] (
  [id] [int] IDENTITY(1,1) NOT NULL,
  [resId] [int] NULL,
  [zone] [nvarchar](50) NULL,
  CONSTRAINT [PK_VoIPInZone] PRIMARY KEY CLUSTERED ([id] ASC)
)
GO

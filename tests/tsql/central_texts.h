// The installation database's CREATE TABLE, CREATE INDEX and CREATE VIEW
// statements exactly as the service sends them, as test data for the T-SQL
// front.
#pragma once

#include <string_view>

namespace pv::db::tsql::testing {

inline constexpr std::string_view kCreateNames =
    "CREATE TABLE [dbo].[Names]("
    "[ID] [int] NOT NULL, "
    "[resType] [nvarchar](1) NULL, "
    "[LastName] [nvarchar](50) NULL, "
    "[FirstName] [nvarchar](50) NULL, "
    "[suite] [nvarchar](50) NULL, "
    "[Company] [nvarchar](100) NULL, "
    "[button1Type] [nvarchar](1) NULL, "
    "[button2Type] [nvarchar](1) NULL, "
    "[button3Type] [nvarchar](1) NULL, "
    "[phone1] [nvarchar](16) NULL, "
    "[button1Loc] [nvarchar](25) NULL, "
    "[button1Comm] [nvarchar](100) NULL, "
    "[phone2] [nvarchar](16) NULL, "
    "[button2Loc] [nvarchar](25) NULL, "
    "[button2Comm] [nvarchar](100) NULL, "
    "[phone3] [nvarchar](16) NULL, "
    "[button3Loc] [nvarchar](25) NULL, "
    "[button3Comm] [nvarchar](100) NULL, "
    "[hide] [bit] NULL, "
    "[hideBut1] [bit] NULL, "
    "[hideBut2] [bit] NULL, "
    "[hideBut3] [bit] NULL, "
    "[notes1] [nvarchar](4000) NULL, "
    "[notes2] [nvarchar](4000) NULL, "
    "[photo] [varbinary](max) NULL, "
    "[photoDescr] [nvarchar](100) NULL, "
    "[tmpPhoto] [nvarchar](256) NULL, "
    "[pHash] [nvarchar](32) NULL, "
    "[mailRoomID] [bigint] NULL, "
    "[dmCode] [nvarchar](8) NULL, "
    "CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([ID] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY] TEXTIMAGE_ON [PRIMARY]";

inline constexpr std::string_view kCreateTenantAccess =
    "CREATE TABLE [dbo].[TenantAccess]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[resId] [int] NULL, "
    "[code] [nvarchar](15) NULL, "
    "[descr] [nvarchar](50) NULL, "
    "[codeDates] [bit] NULL, "
    "[codeDays] [bit] NULL, "
    "[codeTimes] [bit] NULL, "
    "[codeStartDate] [datetime] NULL, "
    "[codeEndDate] [datetime] NULL, "
    "[codeStartTime] [datetime] NULL, "
    "[codeEndTime] [datetime] NULL, "
    "[codeMon] [bit] NULL, "
    "[codeTue] [bit] NULL, "
    "[codeWed] [bit] NULL, "
    "[codeThr] [bit] NULL, "
    "[codeFri] [bit] NULL, "
    "[codeSat] [bit] NULL, "
    "[codeSun] [bit] NULL, "
    "[numericalCode] [nvarchar](15) NOT NULL, "
    "[accessType0] [bit] NULL, "
    "[accessType1] [bit] NULL, "
    "[accessType2] [bit] NULL, "
    "[accessType3] [bit] NULL, "
    "[accessType4] [bit] NULL, "
    "[accessType5] [bit] NULL, "
    "CONSTRAINT [PK_TenantAccess] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreateNotification =
    "CREATE TABLE [dbo].[Notification]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[resId] [int] NOT NULL, "
    "[email] [nvarchar](100) NOT NULL, "
    "CONSTRAINT [PK_Notification] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreateNotificationF =
    "CREATE TABLE [dbo].[NotificationF]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[resId] [int] NOT NULL, "
    "[email] [nvarchar](100) NOT NULL, "
    "CONSTRAINT [PK_NotificationF] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreatePackages =
    "CREATE TABLE [dbo].[Packages]("
    "[ID] [bigint] NOT NULL, "
    "[NameID] [bigint] NOT NULL, "
    "[PackageType] [int] NOT NULL, "
    "[PackageDate] [datetime] NULL, "
    "[PickUpDate] [datetime] NULL, "
    "CONSTRAINT [PK_Packages] PRIMARY KEY NONCLUSTERED ([ID] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY] "
    "CREATE NONCLUSTERED INDEX [IX_Packages] ON [dbo].[Packages] ([NameID] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kCreatePackagesTypes =
    "CREATE TABLE [dbo].[Packages_Types] ("
    "[ID] [bigint] NOT NULL, "
    "[PackageTypeLongName] [nvarchar](75) NOT NULL, "
    "[PackageTypeImage] [nvarchar](50) NOT NULL, "
    "CONSTRAINT [PK_Packages_Types] PRIMARY KEY CLUSTERED ([ID] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreatePackagesSettings =
    "CREATE TABLE [dbo].[Packages_Settings] ("
    "[ID] [bigint] NOT NULL, "
    "[MailRoomName] [nvarchar](50) NOT NULL, "
    "CONSTRAINT [PK_Packages_Settings] PRIMARY KEY CLUSTERED ([ID] ASC) WITH (PAD_INDEX  = "
    "OFF, STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreateLogs =
    "CREATE TABLE [dbo].[Logs]("
    "[id] [bigint] NOT NULL, "
    "[entryId] [smallint] NULL, "
    "[residentId] [int] NULL, "
    "[aDateTime] [datetime] NULL, "
    "[action] [nvarchar](100) NULL, "
    "[data] [nvarchar](250) NULL, "
    "[computerName] [nvarchar](250) NULL, "
    "[photo] [varbinary](max) NULL, "
    "[tmpPhoto] [nvarchar](256) NULL, "
    "[photo2] [varbinary](max) NULL, "
    "[tmpPhoto2] [nvarchar](256) NULL, "
    "CONSTRAINT [PK_Logs] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY] TEXTIMAGE_ON [PRIMARY]";

inline constexpr std::string_view kCreateEntries =
    "CREATE TABLE [dbo].[Entries]("
    "[entryId] [smallint] NOT NULL, "
    "[entryName] [nvarchar](100) NULL, "
    "[mesLine1] [nvarchar](50) NULL, "
    "[mesLine2] [nvarchar](50) NULL, "
    "[mesLine3] [nvarchar](50) NULL, "
    "[version] [nvarchar](15) NULL, "
    "CONSTRAINT [PK_Entries] PRIMARY KEY CLUSTERED ([entryId] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kCreatePinkNotes =
    "CREATE TABLE [dbo].[PinkNotes]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[parentId] [bigint] NOT NULL, "
    "[mText] [nvarchar](max) NULL, "
    "[subject] [nvarchar](250) NULL, "
    "[mDate] [datetime] NULL, "
    "[toResId] [bigint] NULL, "
    "[fromResId] [bigint] NULL, "
    "[urgent] [bit] NULL, "
    "[mustAcknowledge] [bit] NULL, "
    "[toMState] [nvarchar](1) NULL, "
    "[fromMState] [nvarchar](1) NULL, "
    "CONSTRAINT [PK_PinkNotes] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY] "
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes] ON [dbo].[PinkNotes] ([mDate] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY] "
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_1] ON [dbo].[PinkNotes] ([toResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY] "
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_2] ON [dbo].[PinkNotes] ([fromResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY] "
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_3] ON [dbo].[PinkNotes] ([parentId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kCreateAdditionalPhotos =
    "CREATE TABLE [dbo].[AdditionalPhotos]("
    "[id] [bigint] NOT NULL, "
    "[photo] [varbinary](max) NULL, "
    "[tmpPhoto] [nvarchar](256) NULL, "
    "[label] [nvarchar](100) NULL, "
    "[resId] [bigint] NULL, "
    "CONSTRAINT [PK_AdditionalPhotos] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

inline constexpr std::string_view kIndexPackages =
    "CREATE NONCLUSTERED INDEX [IX_Packages] ON [dbo].[Packages] ([NameID] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kIndexPinkNotes =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes] ON [dbo].[PinkNotes] ([mDate] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kIndexPinkNotes1 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_1] ON [dbo].[PinkNotes] ([toResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kIndexPinkNotes2 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_2] ON [dbo].[PinkNotes] ([fromResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kIndexPinkNotes3 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_3] ON [dbo].[PinkNotes] ([parentId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

inline constexpr std::string_view kCreatePackageDetails =
    "CREATE VIEW [dbo].[PackageDetails] AS "
    "SELECT TOP (100) PERCENT dbo.Packages.NameID, dbo.Packages.PackageType, "
    "dbo.Packages.PackageDate, dbo.Packages.PickUpDate, "
    "dbo.Packages_Types.PackageTypeLongName, dbo.Packages_Types.PackageTypeImage, "
    "dbo.Logs.tmpPhoto, dbo.Logs.tmpPhoto2, dbo.Logs.data, dbo.Logs.action, "
    "dbo.Entries.entryName "
    "FROM dbo.Entries INNER JOIN "
    "dbo.Logs ON dbo.Entries.entryId = dbo.Logs.entryId RIGHT OUTER JOIN "
    "dbo.Packages INNER JOIN "
    "dbo.Packages_Types ON dbo.Packages.PackageType = dbo.Packages_Types.ID ON dbo.Logs.data = "
    "CONVERT(nvarchar, dbo.Packages.ID) AND dbo.Logs.residentId = dbo.Packages.NameID";

inline constexpr std::string_view kCreateVisitorLogs =
    "CREATE VIEW [dbo].[VisitorLogs] AS "
    "SELECT dbo.Logs.aDateTime, dbo.Logs.action, dbo.Logs.data, dbo.Logs.computerName, "
    "dbo.Logs.photo, dbo.Logs.photo2, dbo.Logs.tmpPhoto, dbo.Logs.tmpPhoto2, "
    "dbo.Entries.entryName, dbo.Logs.residentId, dbo.Names.button1Loc, dbo.Names.button2Loc, "
    "dbo.Names.button3Loc "
    "FROM dbo.Logs INNER JOIN "
    "dbo.Entries ON dbo.Logs.entryId = dbo.Entries.entryId INNER JOIN "
    "dbo.Names ON dbo.Logs.residentId = dbo.Names.ID "
    "WHERE (dbo.Logs.action IN ('STR Panel Call', 'STR Call', 'Phone Call', 'Relay Call'))";

inline constexpr std::string_view kCreatePinkNotesDetails =
    "CREATE VIEW [dbo].[PinkNotesDetails] AS "
    "SELECT dbo.PinkNotes.mText, dbo.PinkNotes.subject, dbo.PinkNotes.mDate, "
    "dbo.PinkNotes.toResId, dbo.Names.FirstName + ' ' + dbo.Names.LastName AS toName, "
    "dbo.PinkNotes.toMState, dbo.Names.suite AS toSuite, dbo.Names.tmpPhoto AS toPhoto, "
    "dbo.PinkNotes.fromResId, dbo.PinkNotes.fromMState, Names_1.tmpPhoto AS fromPhoto, "
    "Names_1.FirstName + ' ' + Names_1.LastName AS fromName, Names_1.suite AS fromSuite, "
    "dbo.PinkNotes.urgent, dbo.PinkNotes.mustAcknowledge, dbo.PinkNotes.parentId, "
    "dbo.PinkNotes.id "
    "FROM dbo.PinkNotes INNER JOIN "
    "dbo.Names ON dbo.PinkNotes.toResId = dbo.Names.ID INNER JOIN "
    "dbo.Names AS Names_1 ON dbo.PinkNotes.fromResId = Names_1.ID";

inline constexpr std::string_view kCreatePinkNotesHeaders =
    "CREATE VIEW [dbo].[PinkNotesHeaders] AS "
    "SELECT dbo.PinkNotes.parentId, dbo.PinkNotes.subject, "
    "dbo.PinkNotes.toResId, dbo.Names.FirstName + N' ' + dbo.Names.LastName AS toName, "
    "dbo.Names.suite AS toSuite, dbo.Names.tmpPhoto AS toPhoto, "
    "dbo.PinkNotes.fromResId, Names_1.FirstName + N' ' + Names_1.LastName AS fromName, "
    "Names_1.suite AS fromSuite, Names_1.tmpPhoto AS fromPhoto, "
    "(SELECT MAX(mDate) AS Expr1 FROM dbo.PinkNotes AS A WHERE (parentId = "
    "dbo.PinkNotes.parentId)) AS lastMsgDate,"
    "(SELECT mText FROM dbo.PinkNotes AS B WHERE (parentId = dbo.PinkNotes.id) AND (mDate = "
    "(SELECT MAX(mDate) AS Expr1 FROM dbo.PinkNotes AS A WHERE (parentId = "
    "dbo.PinkNotes.id)))) AS lastMsgText, dbo.PinkNotes.urgent, dbo.PinkNotes.toMState, "
    "dbo.PinkNotes.fromMState, dbo.PinkNotes.mustAcknowledge "
    "FROM dbo.PinkNotes INNER JOIN "
    "dbo.Names ON dbo.PinkNotes.toResId = dbo.Names.ID INNER JOIN "
    "dbo.Names AS Names_1 ON dbo.PinkNotes.fromResId = Names_1.ID "
    "WHERE (dbo.PinkNotes.parentId = dbo.PinkNotes.id)";

// The tables in the order the service creates them, with their names.
struct CentralTableText {
  std::string_view name;
  std::string_view sql;
};
inline constexpr CentralTableText kCentralTables[] = {
    {"Names", kCreateNames},
    {"TenantAccess", kCreateTenantAccess},
    {"Notification", kCreateNotification},
    {"NotificationF", kCreateNotificationF},
    {"Packages", kCreatePackages},
    {"Packages_Types", kCreatePackagesTypes},
    {"Packages_Settings", kCreatePackagesSettings},
    {"Logs", kCreateLogs},
    {"Entries", kCreateEntries},
    {"PinkNotes", kCreatePinkNotes},
    {"AdditionalPhotos", kCreateAdditionalPhotos},
};
inline constexpr CentralTableText kCentralViews[] = {
    {"PackageDetails", kCreatePackageDetails},
    {"VisitorLogs", kCreateVisitorLogs},
    {"PinkNotesDetails", kCreatePinkNotesDetails},
    {"PinkNotesHeaders", kCreatePinkNotesHeaders},
};

}  // namespace pv::db::tsql::testing

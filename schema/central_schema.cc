#include "schema/central_schema.h"

#include <array>
#include <exception>
#include <memory>

#include "db/error.h"

namespace pv::schema {
namespace {

// The statements below are sent to the server exactly as they stand, blanks
// included (note the double blanks before "=" in the WITH options); adjacent
// literals are joined with nothing in between.

constexpr std::string_view kCreateNames =
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

constexpr std::string_view kCreateTenantAccess =
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

constexpr std::string_view kCreateNotification =
    "CREATE TABLE [dbo].[Notification]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[resId] [int] NOT NULL, "
    "[email] [nvarchar](100) NOT NULL, "
    "CONSTRAINT [PK_Notification] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

constexpr std::string_view kCreateNotificationF =
    "CREATE TABLE [dbo].[NotificationF]("
    "[id] [bigint] IDENTITY(1,1) NOT NULL, "
    "[resId] [int] NOT NULL, "
    "[email] [nvarchar](100) NOT NULL, "
    "CONSTRAINT [PK_NotificationF] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

constexpr std::string_view kCreatePackages =
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

constexpr std::string_view kCreatePackagesTypes =
    "CREATE TABLE [dbo].[Packages_Types] ("
    "[ID] [bigint] NOT NULL, "
    "[PackageTypeLongName] [nvarchar](75) NOT NULL, "
    "[PackageTypeImage] [nvarchar](50) NOT NULL, "
    "CONSTRAINT [PK_Packages_Types] PRIMARY KEY CLUSTERED ([ID] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

constexpr std::string_view kCreatePackagesSettings =
    "CREATE TABLE [dbo].[Packages_Settings] ("
    "[ID] [bigint] NOT NULL, "
    "[MailRoomName] [nvarchar](50) NOT NULL, "
    "CONSTRAINT [PK_Packages_Settings] PRIMARY KEY CLUSTERED ([ID] ASC) WITH (PAD_INDEX  = "
    "OFF, STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

constexpr std::string_view kCreateLogs =
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

constexpr std::string_view kCreateEntries =
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

constexpr std::string_view kCreatePinkNotes =
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

constexpr std::string_view kCreateAdditionalPhotos =
    "CREATE TABLE [dbo].[AdditionalPhotos]("
    "[id] [bigint] NOT NULL, "
    "[photo] [varbinary](max) NULL, "
    "[tmpPhoto] [nvarchar](256) NULL, "
    "[label] [nvarchar](100) NULL, "
    "[resId] [bigint] NULL, "
    "CONSTRAINT [PK_AdditionalPhotos] PRIMARY KEY CLUSTERED ([id] ASC) WITH (PAD_INDEX  = OFF, "
    "STATISTICS_NORECOMPUTE  = OFF, IGNORE_DUP_KEY = OFF, ALLOW_ROW_LOCKS  = ON, "
    "ALLOW_PAGE_LOCKS  = ON) ON [PRIMARY]) ON [PRIMARY]";

constexpr std::string_view kIndexPackages =
    "CREATE NONCLUSTERED INDEX [IX_Packages] ON [dbo].[Packages] ([NameID] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

constexpr std::string_view kIndexPinkNotes =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes] ON [dbo].[PinkNotes] ([mDate] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

constexpr std::string_view kIndexPinkNotes1 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_1] ON [dbo].[PinkNotes] ([toResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

constexpr std::string_view kIndexPinkNotes2 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_2] ON [dbo].[PinkNotes] ([fromResId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

constexpr std::string_view kIndexPinkNotes3 =
    "CREATE NONCLUSTERED INDEX [IX_PinkNotes_3] ON [dbo].[PinkNotes] ([parentId] ASC) WITH "
    "(PAD_INDEX  = OFF, STATISTICS_NORECOMPUTE  = OFF, SORT_IN_TEMPDB = OFF, IGNORE_DUP_KEY = "
    "OFF, DROP_EXISTING = OFF, ONLINE = OFF, ALLOW_ROW_LOCKS  = ON, ALLOW_PAGE_LOCKS  = ON) ON "
    "[PRIMARY]";

constexpr std::string_view kCreatePackageDetails =
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

constexpr std::string_view kCreateVisitorLogs =
    "CREATE VIEW [dbo].[VisitorLogs] AS "
    "SELECT dbo.Logs.aDateTime, dbo.Logs.action, dbo.Logs.data, dbo.Logs.computerName, "
    "dbo.Logs.photo, dbo.Logs.photo2, dbo.Logs.tmpPhoto, dbo.Logs.tmpPhoto2, "
    "dbo.Entries.entryName, dbo.Logs.residentId, dbo.Names.button1Loc, dbo.Names.button2Loc, "
    "dbo.Names.button3Loc "
    "FROM dbo.Logs INNER JOIN "
    "dbo.Entries ON dbo.Logs.entryId = dbo.Entries.entryId INNER JOIN "
    "dbo.Names ON dbo.Logs.residentId = dbo.Names.ID "
    "WHERE (dbo.Logs.action IN ('STR Panel Call', 'STR Call', 'Phone Call', 'Relay Call'))";

constexpr std::string_view kCreatePinkNotesDetails =
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

constexpr std::string_view kCreatePinkNotesHeaders =
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

constexpr std::array<CentralTable, 11> kTables{{
    {"Names", kCreateNames, true},
    {"TenantAccess", kCreateTenantAccess, true},
    {"Notification", kCreateNotification, true},
    {"NotificationF", kCreateNotificationF, true},
    {"Packages", kCreatePackages, true},
    {"Packages_Types", kCreatePackagesTypes, true},
    {"Packages_Settings", kCreatePackagesSettings, true},
    {"Logs", kCreateLogs, true},
    {"Entries", kCreateEntries, true},
    {"PinkNotes", kCreatePinkNotes, false},
    {"AdditionalPhotos", kCreateAdditionalPhotos, true},
}};

constexpr std::array<CentralView, 4> kViews{{
    {"PackageDetails", kCreatePackageDetails},
    {"VisitorLogs", kCreateVisitorLogs},
    {"PinkNotesDetails", kCreatePinkNotesDetails},
    {"PinkNotesHeaders", kCreatePinkNotesHeaders},
}};

constexpr std::array<CentralIndex, 5> kIndexes{{
    {"IX_Packages", "Packages", kIndexPackages},
    {"IX_PinkNotes", "PinkNotes", kIndexPinkNotes},
    {"IX_PinkNotes_1", "PinkNotes", kIndexPinkNotes1},
    {"IX_PinkNotes_2", "PinkNotes", kIndexPinkNotes2},
    {"IX_PinkNotes_3", "PinkNotes", kIndexPinkNotes3},
}};

// Number logged for a failure that carries none of its own.
constexpr long kUnexpectedFailure = -1;

// True when sysobjects holds an object of `type` ('U' table, 'V' view) named
// `name`. The query is closed before the caller runs its next statement.
bool ObjectExists(db::Connection& central, std::string_view type, std::string_view name) {
  std::string sql = "Select name From sysobjects ";
  sql += "Where type = '";
  sql += type;
  sql += "' ";
  sql += "And name = '";
  sql += name;
  sql += "'";
  std::unique_ptr<db::Rowset> rows = central.Query(sql);
  const bool found = rows->Next();
  rows->Close();
  return found;
}

}  // namespace

std::span<const CentralTable> CentralTables() { return kTables; }
std::span<const CentralView> CentralViews() { return kViews; }
std::span<const CentralIndex> CentralIndexes() { return kIndexes; }

bool CheckForTables(db::Connection& central, const common::LogFn& writeLog) {
  try {
    for (const CentralTable& table : kTables) {
      if (!ObjectExists(central, "U", table.name)) {
        central.Execute(std::string(table.createSql));
      } else if (table.emptiedWhenPresent) {
        central.Execute("Delete From " + std::string(table.name) + ";");
      }
    }
    for (const CentralView& view : kViews) {
      if (!ObjectExists(central, "V", view.name)) {
        central.Execute(std::string(view.createSql));
      }
    }
    return true;
  } catch (const db::DbError& e) {
    if (writeLog) writeLog("CheckForTables()", e.number(), e.description());
  } catch (const std::exception& e) {
    // Not a database failure (for example memory); logged with a number of
    // its own so that the line still shows one.
    if (writeLog) writeLog("CheckForTables()", kUnexpectedFailure, e.what());
  }
  return false;
}

}  // namespace pv::schema

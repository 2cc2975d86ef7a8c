#include "tests/support/sample_site.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/site.h"

namespace pv::testsite {

const db::Bytes kResidentPhoto = PatternBytes(3000, 1);
const db::Bytes kLargeResidentPhoto = PatternBytes(200 * 1024, 2);
const db::Bytes kLogPhoto = PatternBytes(5000, 3);
const db::Bytes kLogPhoto2 = PatternBytes(7000, 4);
const db::Bytes kSingleLogPhoto = PatternBytes(1234, 5);
const db::Bytes kAdditionalPhoto = PatternBytes(4321, 6);
const char kTenantAccessColumns[] =
    "resId, code, descr, codeDates, codeDays, codeTimes, codeStartDate, codeEndDate, "
    "codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
    "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, accessType5";

void FillSampleSite(db::Connection& local, bool withSettings) {
  if (withSettings) {
    local.Execute("Insert Into Settings (name, zip) Values (N'Résidence d''Été', N'H2X 1Y4')");
  }
  auto names = [&](const std::string& values) {
    local.Execute(
        "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, "
        "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
        "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, "
        "notes2, photo, photoDescr, dmCode, mailRoomID) Values (" +
        values + ")");
  };
  names(
      "N'R', N'O''Brien', N'Seán', N'101', N'', N'P', N'E', N'N', N'5551234', N'A1', "
      "N'It''s me', N'5555678', N'A2', N'', N'', N'', N'', 0, 0, 1, 0, N'key under the "
      "mat, isn''t it', N'second', " +
      BinaryLiteral(kResidentPhoto) + ", N'front', N'D''1', 7");
  names(
      "N'S', N'王', N'小明', N'B2', N'王氏公司', N'P', N'P', N'P', N'1', N'', N'', N'2', N'', "
      "N'', N'3', N'', N'', 1, 1, 1, 1, N'备注', N'', Null, Null, N'', Null");
  names(
      "N'X', N'Hidden', N'Staff', N'0', N'', N'P', N'P', N'P', N'', N'', N'', N'', N'', N'', "
      "N'', N'', N'', 0, 0, 0, 0, Null, Null, Null, Null, Null, Null");
  names(
      "N'R', N'Large', N'Photo', N'404', N'ACME', N'P', N'P', N'P', N'', N'', N'', N'', N'', "
      "N'', N'', N'', N'', 0, 0, 0, 0, N'', N'', " +
      BinaryLiteral(kLargeResidentPhoto) + ", N'big', N'', 12");

  local.Execute(
      std::string("Insert Into TenantAccess (") + kTenantAccessColumns + ") Values " +
      "(1, N'1234', N'Seán''s code', 1, 0, 1, '2026-01-01T00:00:00', '2026-12-31T23:59:59', "
      "'1900-01-01T08:00:00', '1900-01-01T18:30:00', 1, 1, 1, 1, 1, 0, 0, N'1234', 1, 0, 0, 0, "
      "0, 1), "
      "(2, N'9999', N'门卡', 0, 0, 0, '2025-02-03T04:05:06', '2025-02-04T04:05:06', "
      "'1900-01-01T00:00:00', '1900-01-01T00:00:00', 0, 0, 0, 0, 0, 1, 1, N'9999', 0, 1, 1, 1, "
      "1, 0)");
  local.Execute(
      "Insert Into Notification (resId, email) Values (1, N'obrien@example.com'), "
      "(2, N'wang@例子.cn')");
  local.Execute("Insert Into NotificationF (resId, email) Values (1, N'o''brien@example.com')");
  local.Execute(
      "Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values "
      "(1, 1, '2026-03-04T10:11:12', '2026-03-05T09:00:00'), (2, 2, '2026-03-06T10:11:12.5', "
      "Null)");
  local.Execute(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values "
      "(1, N'Box', N'box.png'), (2, N'Carrier''s letter', N'letter.png')");
  local.Execute("Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Main room')");
  local.Execute(
      "Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName, photo, "
      "photo2) Values (1, 1, '2026-04-01T07:08:09', N'Call', N'O''Brien', N'PANEL-1', " +
      BinaryLiteral(kLogPhoto) + ", " + BinaryLiteral(kLogPhoto2) +
      "), (2, 2, '2026-04-02T07:08:09', N'Code', N'王', N'PANEL-2', " +
      BinaryLiteral(kSingleLogPhoto) + ", Null), (1, 0, Null, Null, Null, Null, Null, Null)");
  local.Execute(
      "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values "
      "(1, N'Front door', N'Welcome', N'', N'', N'2.1'), (2, N'Garage', N'Drive in', N'slow', "
      "N'', N'2.0')");
  local.Execute("Insert Into AdditionalPhotos (label, resId, photo) Values (N'Car', 1, " +
                BinaryLiteral(kAdditionalPhoto) + "), (N'Nothing', 1, Null), (N'Empty', 2, 0x)");
  local.Execute(
      "Insert Into Emails (resId, email, iPhoneDeviceId) Values "
      "(1, N'o''brien@example.com', Null), (2, N'wang@例子.cn', N'dev')");
}

namespace {

const char kNamesColumns[] =
    "id, resType, lastName, firstName, suite, company, button1Type, button2Type, button3Type, "
    "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
    "button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photo, photoDescr, "
    "mailRoomID, dmCode";

}  // namespace

void ExpectSampleSiteCopied(db::Connection& local, db::Connection& central) {
  // Per table: the columns compared, their order, and which local rows are copied.
  const struct {
    const char *table, *columns, *order, *copied;
  } tables[] = {
      {"Names", kNamesColumns, "id", " Where resType = 'R' Or resType = 'S'"},
      {"TenantAccess", kTenantAccessColumns, "resId, code", ""},
      {"Notification", "resId, email", "resId, email", ""},
      {"NotificationF", "resId, email", "resId, email", ""},
      {"Packages", "id, nameId, packageType, packageDate, pickupDate", "id", ""},
      {"Packages_Types", "id, packageTypeLongName, packageTypeImage", "id", ""},
      {"Packages_Settings", "id, mailRoomName", "id", ""},
      {"Logs", "id, entryId, residentId, aDateTime, action, data, computerName, photo, photo2",
       "id", ""},
      {"Entries", "entryId, entryName, mesLine1, mesLine2, mesLine3, version", "entryId", ""},
      {"AdditionalPhotos", "id, label, resId, photo", "id", " Where id = 1"}};
  for (const auto& t : tables) {
    const std::string select = std::string("Select ") + t.columns + " From " + t.table;
    const std::string order = std::string(" Order By ") + t.order;
    EXPECT_EQ(Dump(local, select + t.copied + order), Dump(central, select + order)) << t.table;
  }
}

}  // namespace pv::testsite

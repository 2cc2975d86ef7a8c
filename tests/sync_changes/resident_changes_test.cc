// Residents created and edited on the central side: the id handshake of
// "NamesA" and the e-mail reconciliation of "NamesU".
#include <gtest/gtest.h>

#include "tests/sync_changes/change_site.h"

namespace pv::testsite {
namespace {

using sync::CentralChangeResult;
using V = db::Value;

void AddCentralResident(ChangeSite& site, int id, const std::string& last, const std::string& first,
                        const std::string& company) {
  site.installation->Execute(
      "Insert Into Names (ID, resType, LastName, FirstName, suite, Company, button1Type, "
      "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
      "button2Comm, phone3, button3Loc, button3Comm, hide, notes1, notes2, photoDescr, dmCode) "
      "Values (" +
      std::to_string(id) + ", N'R', " + last + ", " + first + ", N'7''B', " + company +
      ", N'P', N'E', N'N', N'5551', N'L1', N'C''1', N'5552', N'L2', N'C2', N'5553', N'L3', "
      "N'C3', 1, N'note''s', Null, N'pic', N'9')");
}

TEST(NamesA, InsertsTheResidentAndRenumbersTheCentralRowsToTheLocalId) {
  ChangeSite site;
  AddCentralResident(site, -1, "N'D''Arcy'", "N'Zoë'", "N'ACME ''Ltd'''");
  site.installation->Execute("Insert Into Notification (resId, email) Values (-1, N'n@x.org')");
  site.installation->Execute("Insert Into NotificationF (resId, email) Values (-1, N'f@x.org')");
  site.home->Execute(
      "Insert Into Emails (instId, resId, email) Values (42, -1, N'd''arcy@example.com'), "
      "(43, -1, N'other@example.com')");
  // A resident of another writer lands first: the new id must still be the
  // inserted row's own.
  site.local().Execute("Insert Into Names (resType, lastName) Values (N'R', N'Before')");

  EXPECT_EQ(site.Apply("6|0|NamesA|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.sent, std::vector<std::string>{"SDWE 42§6"});
  EXPECT_EQ(
      site.Local("Select resType, firstName, lastName, company, sortfield, suite, hide, priority, "
                 "inZone, floor, button1Type, button2Type, button3Type, button1Loc, button3Comm, "
                 "phone1, phone3, relay1, relay3board, relay2length, hideBut1, hideBut3, notes1, "
                 "notes2, photoDescr From Names Where id = 6"),
      (Rows{{V::Text("R"),          V::Text("Zoë"), V::Text("D'Arcy"), V::Text("ACME 'Ltd'"),
             V::Text("ACME 'Ltd'"), V::Text("7'B"), V::Bit(true),      V::Bit(false),
             V::Text(",,"),         V::Text(""),    V::Text("P"),      V::Text("E"),
             V::Text("N"),          V::Text("L1"),  V::Text("C3"),     V::Text("5551"),
             V::Text("5553"),       V::Text(""),    V::Text(""),       V::Integer(0),
             V::Bit(false),         V::Bit(false),  V::Text("note's"), V::Text(""),
             V::Text("pic")}}));
  EXPECT_EQ(site.Inst("Select ID From Names Where LastName = N'D''Arcy'"), (Rows{{V::Integer(6)}}));
  EXPECT_EQ(site.Inst("Select resId From Notification Where email = N'n@x.org'"),
            (Rows{{V::Integer(6)}}));
  EXPECT_EQ(site.Inst("Select resId From NotificationF Where email = N'f@x.org'"),
            (Rows{{V::Integer(6)}}));
  // The address (quote kept) is the local e-mail row and first notification.
  EXPECT_EQ(site.Local("Select id, email From Emails Where resId = 6"),
            (Rows{{V::Integer(3), V::Text("d'arcy@example.com")}}));
  EXPECT_EQ(site.Local("Select email From Notification Where resId = 6"),
            (Rows{{V::Text("d'arcy@example.com")}}));
  EXPECT_EQ(site.Home("Select instId, emailId, resId From Emails Where email In "
                      "(N'd''arcy@example.com', N'other@example.com') Order By instId"),
            (Rows{{V::Integer(42), V::Integer(3), V::Integer(6)},
                  {V::Integer(43), V(), V::Integer(-1)}}));
  EXPECT_FALSE(site.Queued(6));

  // Asked again: no central resident with a negative id is left.
  EXPECT_EQ(site.Apply("7|0|NamesA|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select Count(*) From Names"), (Rows{{V::Integer(6)}}));
  EXPECT_EQ(site.sent.size(), 1u);
  EXPECT_FALSE(site.Queued(7));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
}

TEST(NamesA, WithoutCompanyOrEmailSortsByNameAndSendsNothing) {
  ChangeSite site;
  AddCentralResident(site, -2, "N'Li'", "N'Wei'", "N''");
  EXPECT_EQ(site.Apply("8|99|NamesA|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName, sortfield From Names Where id = 5"),
            (Rows{{V::Text("Li"), V::Text("Li, Wei")}}));
  EXPECT_EQ(site.Inst("Select ID From Names Where LastName = N'Li'"), (Rows{{V::Integer(5)}}));
  EXPECT_EQ(site.Local("Select Count(*) From Emails"), (Rows{{V::Integer(2)}}));
  EXPECT_TRUE(site.sent.empty());

  // A Null company cannot be written: the change fails before anything is
  // inserted and the central row keeps its negative id.
  AddCentralResident(site, -5, "N'Later'", "Null", "Null");
  EXPECT_EQ(site.Apply("9|0|NamesA|0"), CentralChangeResult::Failed);
  EXPECT_EQ(site.Inst("Select ID From Names Where ID < 0"), (Rows{{V::Integer(-5)}}));
  EXPECT_EQ(site.logged.size(), 1u);
  EXPECT_FALSE(site.Queued(9));
  EXPECT_EQ(site.Local("Select Count(*) From Names"), (Rows{{V::Integer(5)}}));
}

TEST(NamesU, CopiesNameFieldsAndReconcilesTheEmailRow) {
  ChangeSite site;
  site.installation->Execute(
      "Update Names Set LastName = N'O''Brien-Ward', FirstName = N'Seán', suite = N'1''0', "
      "Company = N'', dmCode = Null, notes1 = N'a''b', notes2 = Null, photoDescr = Null "
      "Where ID = 1");

  // Resident 1: equal addresses, nothing sent.
  EXPECT_EQ(site.Apply("1|1|NamesU|"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName, firstName, suite, company, dmCode, notes1, notes2, "
                       "photoDescr From Names Where id = 1"),
            (Rows{{V::Text("O'Brien-Ward"), V::Text("Seán"), V::Text("1'0"), V::Text(""),
                   V::Text(""), V::Text("a'b"), V::Text(""), V::Text("")}}));
  EXPECT_TRUE(site.sent.empty());

  // Resident 2: a different central address replaces the local one.
  site.home->Execute("Update Emails Set email = N'w''ang@例子.cn' Where resId = 2");
  EXPECT_EQ(site.Apply("2|2|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select email From Emails Where resId = 2"),
            (Rows{{V::Text("w'ang@例子.cn")}}));
  EXPECT_EQ(site.sent, std::vector<std::string>{"SDWC 42§2"});

  // Resident 4 has no local row yet: made from the central one, reported.
  site.home->Execute(
      "Insert Into Emails (instId, resId, email) Values (42, 4, N'l''arge@x.org'), "
      "(43, 4, N'other@x.org')");
  EXPECT_EQ(site.Apply("3|4|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select id, email From Emails Where resId = 4"),
            (Rows{{V::Integer(3), V::Text("l'arge@x.org")}}));
  EXPECT_EQ(site.Local("Select email From Notification Where resId = 4"),
            (Rows{{V::Text("l'arge@x.org")}}));
  EXPECT_EQ(site.Home("Select instId, emailId From Emails Where resId = 4 Order By instId"),
            (Rows{{V::Integer(42), V::Integer(3)}, {V::Integer(43), V()}}));
  EXPECT_EQ(site.sent.back(), "SDWE 42§4");

  // Resident 3 has no central Names row: its e-mail row is still reconciled.
  site.home->Execute("Insert Into Emails (instId, resId, email) Values (42, 3, N'h@x.org')");
  EXPECT_EQ(site.Apply("4|3|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName From Names Where id = 3"), (Rows{{V::Text("Hidden")}}));
  EXPECT_EQ(site.Local("Select email From Emails Where resId = 3"), (Rows{{V::Text("h@x.org")}}));
  EXPECT_EQ(site.sent.back(), "SDWE 42§3");

  // The central row of resident 1 is gone: the local one goes too, silently.
  site.home->Execute("Delete From Emails Where resId = 1");
  const std::size_t sent = site.sent.size();
  EXPECT_EQ(site.Apply("5|1|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select Count(*) From Emails Where resId = 1"), (Rows{{V::Integer(0)}}));
  EXPECT_EQ(site.sent.size(), sent);
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  for (int id = 1; id <= 5; ++id) EXPECT_FALSE(site.Queued(id)) << id;
}

}  // namespace
}  // namespace pv::testsite

#include "tests/sync_changes/change_site.h"

#include <stdexcept>

#include "tests/support/sample_site.h"

namespace pv::testsite {

ChangeSite::ChangeSite() {
  FillSampleSite(local());
  AddInstallations(43);
  if (Upload("42") != sync::FullUploadResult::Completed) {
    throw std::runtime_error("the full upload of the sample site failed");
  }
  installation = CentralDb("Installation00042");
  home = CentralDb();
  for (int i = 0; i < 20; ++i) {
    home->Execute("Insert Into UpdateQueue (instId, recordId, tableName) Values (42, 0, N'x')");
  }
  logged.clear();
  sent.clear();
}

sync::CentralChangeResult ChangeSite::Apply(std::string order) {
  for (std::size_t at; (at = order.find('|')) != std::string::npos;) order.replace(at, 1, "§");
  installationId = "42";
  return sync::TransferDataFromCX(*this, order);
}

bool ChangeSite::Queued(int id) {
  return Home("Select id From UpdateQueue Where id = " + std::to_string(id)).size() == 1;
}

std::string ChangeSite::Log() const {
  std::string out;
  for (const LoggedLine& l : logged) {
    out += l.message + " " + std::to_string(l.number) + " " + l.detail + "\n";
  }
  return out;
}

}  // namespace pv::testsite

// The site of the central-change tests: the sample site uploaded for
// installation 42 (so the central side holds a copy of every local row),
// central queue rows 1 to 20, and TransferDataFromCX run against it exactly as
// the service host wires it.
#pragma once

#include <memory>
#include <string>

#include "sync/central_changes.h"
#include "tests/support/site.h"

namespace pv::testsite {

class ChangeSite : public UploadSite {
 public:
  ChangeSite();

  // Applies the order whose fields are joined by '|' here.
  sync::CentralChangeResult Apply(std::string order);

  bool Queued(int id);
  Rows Local(const std::string& sql) { return Dump(local(), sql); }
  Rows Inst(const std::string& sql) { return Dump(*installation, sql); }
  Rows Home(const std::string& sql) { return Dump(*home, sql); }
  std::string Log() const;

  std::unique_ptr<db::Connection> installation;  // Installation00042
  std::unique_ptr<db::Connection> home;
};

}  // namespace pv::testsite

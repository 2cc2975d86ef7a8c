// The central home database on the embedded SQL engine: the simulator creates
// the central instance, its login and the home database (from the project's
// script) and keeps installation keys and ids in its Installations table.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "tools/pvcentral/installation_store.h"
#include "tools/pvcentral/options.h"

namespace pv::central {

class HomeDb : public InstallationStore {
 public:
  explicit HomeDb(CentralInstance central);

  // Creates the instance (when missing), sets the login's password, and
  // creates the home database with its tables when it does not exist or has
  // no Installations table. Throws db::DbError or std::runtime_error.
  void Prepare();

  // Looks the key up in Installations (column installationID) and adds a row
  // when it is not there. While the home database cannot be reached, a key
  // already seen in this run keeps its id.
  std::string Identify(const std::string& key) override;

  // UpdateQueue rows (id, recordId, tableName, itemId) in id order; with an
  // installation id, only the rows whose instId is that id.
  std::vector<UpdateOrder> UpdateOrders(const std::string& installationId) override;

 private:
  std::unique_ptr<db::Connection> Open(const std::string& database) const;
  std::string FindInstallation(db::Connection& c, const std::string& key) const;

  CentralInstance central_;
  std::map<std::string, std::string> known_;  // key -> installation id, this run
};

}  // namespace pv::central

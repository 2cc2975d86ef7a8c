#include "tests/support/site.h"

#include <stdlib.h>

#include <map>
#include <stdexcept>

#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "schema/sql_scripts.h"
#include "sync/full_upload.h"

namespace pv::testsite {

namespace {

constexpr char kLocalPort[] = "1433";

std::filesystem::path MakeTempFolder(const std::filesystem::path& parent) {
  std::filesystem::path base = parent.empty() ? std::filesystem::temp_directory_path() : parent;
  std::string pattern = (base / "pvupload-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed in " + base.string());
  return pattern;
}

db::ConnectionParams Params(const std::string& port, const std::string& database) {
  return {"localhost", port, "sa", "", database};
}

// Passes everything through to the real connection; counts the statements
// (photo stores among them) and takes the instance offline at the chosen one,
// so a test can lose "the server" at an exact point of a run.
class CountingConnection : public db::Connection {
 public:
  CountingConnection(std::unique_ptr<db::Connection> inner, std::filesystem::path sqlRoot,
                     const int& offlineAt, int& counter, const bool& refuseCreation)
      : inner_(std::move(inner)),
        sqlRoot_(std::move(sqlRoot)),
        offlineAt_(offlineAt),
        counter_(counter),
        refuseCreation_(refuseCreation) {}

  void Open(const db::ConnectionParams& params) override { inner_->Open(params); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  void Close() override { inner_->Close(); }
  void SetCommandTimeout(int seconds) override { inner_->SetCommandTimeout(seconds); }
  std::int64_t Execute(const std::string& sql) override {
    Count();
    if (refuseCreation_ && sql.starts_with("Create Database"))
      throw db::DbError(262, "CREATE DATABASE permission denied in database 'master'.");
    return inner_->Execute(sql);
  }
  std::unique_ptr<db::Rowset> Query(const std::string& sql, db::Cursor cursor) override {
    return inner_->Query(sql, cursor);
  }
  std::string CurrentDatabase() override { return inner_->CurrentDatabase(); }
  void SetCurrentDatabase(const std::string& name) override { inner_->SetCurrentDatabase(name); }
  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override {
    Count();
    return inner_->StoreFileInColumn(table, column, id, file);
  }
  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const db::ColumnSink& sink) override {
    return inner_->ReadColumn(table, column, id, sink);
  }

 private:
  void Count() {
    if (++counter_ == offlineAt_)
      db::embedded::SetOnline(sqlRoot_, "localhost", kCentralPort, false);
  }

  std::unique_ptr<db::Connection> inner_;
  std::filesystem::path sqlRoot_;
  const int& offlineAt_;
  int& counter_;
  const bool& refuseCreation_;
};

}  // namespace

UploadSite::UploadSite(bool mailRoom, const std::filesystem::path& parent)
    : root_(MakeTempFolder(parent)), central_([this] { return MakeCentralConnection(); }) {
  std::filesystem::create_directories(appFolder() / "photos");
  db::embedded::CreateInstance(sqlRoot(), "localhost", kLocalPort);
  db::embedded::CreateInstance(sqlRoot(), "localhost", kCentralPort);

  auto master = db::embedded::MakeEmbeddedConnection(sqlRoot());
  master->Open(Params(kLocalPort, ""));
  master->Execute("Create Database Portavento");
  master->Close();
  local_ = db::embedded::MakeEmbeddedConnection(sqlRoot());
  local_->Open(Params(kLocalPort, "Portavento"));
  schema::RunSqlScript(*local_, schema::ReadSqlScript(schema::kLocalScript));
  if (!mailRoom)
    schema::RunSqlScript(*local_, schema::ReadSqlScript(schema::kLocalDropMailRoomScript));

  auto home = db::embedded::MakeEmbeddedConnection(sqlRoot());
  home->Open(Params(kCentralPort, ""));
  home->Execute(std::string("Create Database ") + kHomeDatabase);
  home->SetCurrentDatabase(kHomeDatabase);
  schema::RunSqlScript(*home, schema::ReadSqlScript(schema::kHomeScript));
  home->Close();

  settings_ = {"sa", "", "localhost", kHomeDatabase, kCentralPort};
}

UploadSite::~UploadSite() {
  central_.CloseCentralConnection();
  local_.reset();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::unique_ptr<db::Connection> UploadSite::MakeCentralConnection() {
  return std::make_unique<CountingConnection>(db::embedded::MakeEmbeddedConnection(sqlRoot()),
                                              sqlRoot(), offlineAtStatement_, centralStatements_,
                                              refuseDatabaseCreation);
}

std::unique_ptr<db::Connection> UploadSite::CentralDb(const std::string& database) const {
  auto c = db::embedded::MakeEmbeddedConnection(sqlRoot());
  c->Open(Params(kCentralPort, database));
  return c;
}

void UploadSite::AddInstallations(int id) {
  auto home = CentralDb();
  auto rows = Dump(*home, "Select Count(*) From Installations");
  for (std::int64_t n = rows.at(0).at(0).AsInteger(); n < id; ++n) {
    home->Execute("Insert Into Installations (installationID, locName) Values (N'KEY" +
                  std::to_string(n + 1) + "', N'before')");
  }
}

bool UploadSite::OpenCentral() { return central_.OpenCentralConnection(settings_); }

sync::FullUploadResult UploadSite::Upload(const std::string& id) {
  installationId = id;
  return sync::TransferDataToCX(*this);
}

void UploadSite::SetLocalOnline(bool online) {
  db::embedded::SetOnline(sqlRoot(), "localhost", kLocalPort, online);
  if (online && !local_->IsOpen()) local_->Open(Params(kLocalPort, "Portavento"));
}

void UploadSite::SetCentralOnline(bool online) {
  db::embedded::SetOnline(sqlRoot(), "localhost", kCentralPort, online);
}

std::string UploadSite::Log() const {
  std::string out;
  for (const LoggedLine& l : logged)
    out += l.message + " - " + std::to_string(l.number) + " - " + l.detail + "\n";
  return out;
}

std::string ResidentInsert(const std::vector<std::pair<std::string, std::string>>& set) {
  std::map<std::string, std::string> columns = {
      {"resType", "N'R'"}, {"lastName", "N'Doe'"}, {"firstName", "N'Jane'"}, {"suite", "N'1'"}};
  for (const char* c : {"company", "phone1", "phone2", "phone3", "button1Loc", "button2Loc",
                        "button3Loc", "button1Comm", "button2Comm", "button3Comm"})
    columns[c] = "N''";
  for (const char* c : {"button1Type", "button2Type", "button3Type"}) columns[c] = "N'P'";
  for (const char* c : {"hide", "hideBut1", "hideBut2", "hideBut3"}) columns[c] = "0";
  for (const auto& [column, value] : set) columns[column] = value;
  std::string names, values;
  for (const auto& [column, value] : columns) {
    names += (names.empty() ? "" : ", ") + column;
    values += (values.empty() ? "" : ", ") + value;
  }
  return "Insert Into Names (" + names + ") Values (" + values + ");";
}

Rows Dump(db::Connection& connection, const std::string& sql) {
  Rows out;
  auto rs = connection.Query(sql);
  while (rs->Next()) {
    std::vector<db::Value> row;
    for (int i = 0; i < rs->ColumnCount(); ++i) row.push_back(rs->Get(i));
    out.push_back(std::move(row));
  }
  rs->Close();
  return out;
}

std::string BinaryLiteral(const db::Bytes& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s = "0x";
  s.reserve(2 + bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

db::Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
  db::Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<std::uint8_t>((x >> 16) ^ i);
  }
  return b;
}

}  // namespace pv::testsite

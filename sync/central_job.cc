#include "sync/central_job.h"

#include <memory>

#include "common/text.h"
#include "db/error.h"

namespace pv::sync {

JobFailure FailureOf(const std::exception& e) {
  if (const auto* dbe = dynamic_cast<const db::DbError*>(&e)) {
    return {dbe->number(), dbe->description()};
  }
  return {0, e.what()};
}

bool CentralJob::Open(bool reuse) {
  try {
    db::CentralConnection& central = host_.Central();
    if (reuse && central.IsOpen()) {
      try {
        std::unique_ptr<db::Rowset> rows = central.get()->Query("Select 1");
        rows->Close();
        return true;
      } catch (...) {
        Close();
      }
    }
    return host_.OpenCentral();
  } catch (...) {
    return false;
  }
}

db::Connection& CentralJob::Local() const {
  db::Connection* local = host_.LocalConnection();
  if (local == nullptr) throw db::NotOpenError("local database");
  return *local;
}

db::Connection& CentralJob::Central() const {
  db::Connection* central = host_.Central().get();
  if (central == nullptr) throw db::NotOpenError("central database");
  return *central;
}

void CentralJob::Close() noexcept {
  try {
    host_.Central().CloseCentralConnection();
  } catch (...) {
    // A connection that cannot be closed is replaced by the next open.
  }
}

void CentralJob::Log(const JobFailure& failure) const {
  host_.WriteLog(routine_, failure.number, failure.description);
}

common::LogFn CentralJob::LogFn() const { return LogTo(host_); }

common::LogFn LogTo(JobHost& host) {
  return [&host](const std::string& message, long number, const std::string& detail) {
    host.WriteLog(message, number, detail);
  };
}

bool HasMailRoom(db::Connection& local) {
  std::unique_ptr<db::Rowset> q = local.Query(
      "Select Count(*) From INFORMATION_SCHEMA.COLUMNS "
      "Where COLUMN_NAME = 'mailRoomID' And TABLE_NAME = 'Names'");
  if (!q->Next() || q->ColumnCount() < 1) return false;
  const db::Value& v = q->Get(0);
  if (v.type() == db::Value::Type::Integer) return v.AsInteger() == 1;
  if (v.type() == db::Value::Type::Text) return common::ParseInteger(v.AsTextRef()) == 1;
  return false;
}

int ColumnIndex(const db::Rowset& rows, const std::string& table, const std::string& column) {
  const int i = rows.FindColumn(column);
  if (i < 0) throw db::NoSuchColumnError(table + "." + column);
  return i;
}

}  // namespace pv::sync

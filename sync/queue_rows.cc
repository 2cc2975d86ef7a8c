#include "sync/queue_rows.h"

#include <exception>
#include <memory>

#include "db/error.h"
#include "sync/central_job.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

void LogFailure(const common::LogFn& writeLog, const char* routine, const std::exception& e) {
  if (!writeLog) return;
  const JobFailure failure = FailureOf(e);
  writeLog(routine, failure.number, failure.description);
}

}  // namespace

bool RemoveQueue(db::Connection& local, std::int64_t id, const common::LogFn& writeLog) {
  try {
    local.Execute("Delete From UpdateQueue Where id = " + std::to_string(id) + ";");
    return true;
  } catch (const std::exception& e) {
    LogFailure(writeLog, "RemoveQueue()", e);
    return false;
  }
}

bool RemoveQueueCX(db::Connection& central, const std::string& homeDatabase, std::int64_t id,
                   const common::LogFn& writeLog) {
  try {
    central.SetCurrentDatabase(homeDatabase);
    central.Execute("Delete From UpdateQueue Where id = " + std::to_string(id) + ";");
    return true;
  } catch (const std::exception& e) {
    LogFailure(writeLog, "RemoveQueueCX()", e);
    return false;
  }
}

std::int64_t GetTopID(db::Connection& local, const std::string& table) {
  try {
    std::unique_ptr<db::Rowset> rows =
        local.Query("Select Top 1 id From " + table + " Order By id Desc");
    std::int64_t top = 0;
    if (rows->Next()) top = IntegerOf(rows->Get(0), table + ".id");
    rows->Close();
    return top;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace pv::sync

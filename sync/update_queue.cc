#include "sync/update_queue.h"

#include <asio/post.hpp>
#include <exception>
#include <limits>
#include <optional>

#include "db/error.h"
#include "sync/central_job.h"
#include "sync/failed_changes.h"
#include "sync/queue_rows.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

// How a value is shown in the line about an unreadable row.
std::string Shown(const db::Value& v) {
  if (v.IsNull()) return "Null";
  if (v.type() == db::Value::Type::Text) return "'" + v.AsTextRef() + "'";
  if (v.type() == db::Value::Type::Binary) return "<binary>";
  return v.ToText();
}

// The value as a 32-bit integer; nullopt for Null, text that is no whole
// number, and numbers out of range.
std::optional<std::int32_t> Int32Of(const db::Value& v) {
  try {
    const std::int64_t n = IntegerOf(v, "UpdateQueue");
    if (n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;
    return static_cast<std::int32_t>(n);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

UpdateQueueDrain::UpdateQueueDrain(asio::io_context& io, JobHost& host) : io_(io), host_(host) {}

void UpdateQueueDrain::Tick() {
  if (draining_ || !host_.UpdateQueueActive()) return;
  rows_.clear();
  more_ = false;
  mailRoom_.reset();
  if (!ReadRows("Select * From UpdateQueue Order By id Asc", true) || rows_.empty()) {
    rows_.clear();
    return;
  }
  draining_ = true;
  sent_ = 0;
  failed_ = 0;
  Post();
}

void UpdateQueueDrain::Post() {
  std::weak_ptr<UpdateQueueDrain> self = weak_from_this();
  asio::post(io_, [self] {
    if (auto d = self.lock()) d->Step();
  });
}

bool UpdateQueueDrain::ReadRows(const std::string& sql, bool wholeQueue) {
  db::Connection* local = host_.LocalConnection();
  if (local == nullptr) return false;
  try {
    std::unique_ptr<db::Rowset> q = local->Query(sql);
    const int idCol = q->FindColumn("id");
    const int kindCol = q->FindColumn("tableName");
    const int resCol = q->FindColumn("resId");
    const int recCol = q->FindColumn("recordId");
    if (idCol < 0 || kindCol < 0 || resCol < 0 || recCol < 0) {
      q->Close();
      return false;
    }
    while (q->Next()) {
      const db::Value& id = q->Get(idCol);
      const auto idN = Int32Of(id);
      if (rows_.size() >= kBatch) {
        // Past the batch only the last id of the queue is of interest (the
        // end of this drain); later queries fetch the rest up to it.
        more_ = true;
        if (!wholeQueue) break;
        if (idN) ceiling_ = *idN;
        continue;
      }
      if (wholeQueue && idN) ceiling_ = *idN;
      if (idN) lastRead_ = *idN;
      const db::Value& kind = q->Get(kindCol);
      const db::Value& res = q->Get(resCol);
      const db::Value& rec = q->Get(recCol);
      Row row;
      const auto resN = Int32Of(res);
      const auto recN = Int32Of(rec);
      const bool kindOk = kind.type() == db::Value::Type::Text;
      row.resIdText = resN ? std::to_string(*resN) : Shown(res);
      row.recordIdText = recN ? std::to_string(*recN) : Shown(rec);
      if (idN) row.change.id = *idN;
      if (kindOk) row.change.tableName = kind.AsTextRef();
      if (!idN || !resN || !recN || !kindOk) {
        row.problem = "queue row id " + Shown(id) + " (tableName " + Shown(kind) + ", resId " +
                      Shown(res) + ", recordId " + Shown(rec) + ") cannot be read";
        if (!idN) {
          // Without a readable id the row cannot be removed: it is named in
          // the log and left alone.
          row.problem += "; left in the queue";
        } else {
          row.problem += "; removed";
        }
      } else {
        row.change.resId = *resN;
        row.change.recordId = *recN;
      }
      rows_.push_back(std::move(row));
    }
    q->Close();
    return true;
  } catch (const std::exception&) {
    // A queue that cannot be read now is read again at the next tick; the
    // rows already read are worked.
    more_ = false;
    return true;
  }
}

void UpdateQueueDrain::Step() {
  // A drain that has started completes its pass even when the link drops
  // meanwhile: each change goes to the central databases over the central
  // connection, not over the link, and the timer is simply not re-armed
  // until the next identification. A stop request ends it here, between two
  // rows.
  if (host_.StopRequested()) return End();
  if (host_.LocalConnection() == nullptr) return End();
  if (rows_.empty() && more_) {
    // The next rows of those the tick found: after the last one read, up to
    // the last id the tick saw (rows queued since wait for the next tick).
    more_ = false;
    ReadRows("Select * From UpdateQueue Where id > " + std::to_string(lastRead_) +
                 " And id <= " + std::to_string(ceiling_) + " Order By id Asc",
             false);
  }
  if (rows_.empty()) return End();

  Row row = std::move(rows_.front());
  rows_.pop_front();
  if (!row.problem.empty()) {
    if (!WorkBadRow(row)) return End();
    ++failed_;
  } else {
    JobFailure deferred;
    const ChangeResult result = TransferResDataToCX(host_, row.change, true, &deferred, &mailRoom_);
    if (result == ChangeResult::NotConnected || result == ChangeResult::Deferred) {
      // The central side (or the local one) is away: this row and every row
      // after it wait, in order, for the next tick. An outage is logged once,
      // not at every tick it lasts.
      if (result == ChangeResult::Deferred) {
        const std::string outage = std::to_string(deferred.number) + deferred.description;
        if (outage != outage_) {
          host_.WriteLog("TransferResDataToCX()", deferred.number, deferred.description);
          outage_ = outage;
        }
      }
      return End();
    }
    outage_.clear();
    ++(result == ChangeResult::Failed ? failed_ : sent_);
  }

  if (rows_.empty() && !more_) return End();
  Post();
}

bool UpdateQueueDrain::WorkBadRow(const Row& row) {
  host_.WriteLog("tmrUpdateQueue()", db::kErrTypeMismatch, row.problem);
  if (row.problem.ends_with("left in the queue")) return true;
  // Recorded before it is removed: a row whose line cannot be written (a
  // full disk) stays, and the drain stops there until the next tick.
  if (!AppendFailedChange(FailedChangesPath(host_.AppFolder()),
                          {std::to_string(row.change.id), row.change.tableName, row.resIdText,
                           row.recordIdText, db::kErrTypeMismatch, row.problem})) {
    return false;
  }
  const CentralJob job(host_, "tmrUpdateQueue()");
  RemoveQueue(job.Local(), row.change.id, job.LogFn());
  return true;
}

void UpdateQueueDrain::End() {
  rows_.clear();
  more_ = false;
  draining_ = false;
  CentralJob(host_, "tmrUpdateQueue()").Close();
  if (sent_ + failed_ > 0) {
    const long sent = sent_;
    const long failed = failed_;
    sent_ = failed_ = 0;
    host_.DrainEnded(sent, failed);
  }
}

}  // namespace pv::sync

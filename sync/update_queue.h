// The update-queue drain: on each tick of tmrUpdateQueue the local UpdateQueue
// is read once, in id order, and its rows are then worked one per step posted
// to the event loop, so link traffic, signals and other timers run between two
// rows. A tick that finds a drain still running does nothing, so no queue row
// is ever worked twice at the same time. The tick's query is read to its end
// but only a batch of rows is held at a time; the next batch is fetched by id
// up to the last id the tick saw, so memory does not grow with the queue. Rows added meanwhile wait
// for the next tick; a row left in the queue (central side unreachable) is met again first.
// When the central side cannot be reached, or a server, connection or storage
// fails for now in the middle of a change, the drain stops there: that row and
// the ones after it keep their order for the next tick.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "sync/queued_change.h"

namespace pv::sync {

class UpdateQueueDrain : public std::enable_shared_from_this<UpdateQueueDrain> {
 public:
  // The drain works for `host`, which outlives it. A tick starts a drain only
  // while host.UpdateQueueActive() holds; once started, the drain works every
  // row its tick found even if the link drops meanwhile, and ends early only
  // when host.StopRequested() (checked before every row) or the central side
  // is away. The central connection the rows shared is closed when it ends.
  UpdateQueueDrain(asio::io_context& io, JobHost& host);

  // One tick: reads the queue and starts working it, unless a drain runs.
  void Tick();
  bool draining() const { return draining_; }
  // Rows still to be worked by the running drain.
  std::size_t pending() const { return rows_.size(); }

 private:
  // One row as read at the tick. `problem` names the row and its values when
  // they cannot be read as numbers.
  struct Row {
    QueuedChange change;
    std::string problem;
    std::string resIdText;
    std::string recordIdText;
  };

  // Appends the rows of `sql` to rows_, at most kBatch of them; sets more_
  // when rows remain. `wholeQueue`: the tick's query, read to its end to
  // learn the last id (ceiling_). False when the queue cannot be read.
  bool ReadRows(const std::string& sql, bool wholeQueue);
  void Post();
  void Step();
  // Records and removes a row that cannot be read; false when it could not
  // be recorded (the row stays and the drain ends).
  bool WorkBadRow(const Row& row);
  void End();

  asio::io_context& io_;
  JobHost& host_;
  // At most this many rows are held at once, whatever the queue's length.
  static constexpr std::size_t kBatch = 500;
  std::deque<Row> rows_;
  bool draining_ = false;
  bool more_ = false;
  std::int64_t lastRead_ = 0;
  std::int64_t ceiling_ = 0;
  // Changes worked through and dropped by the running drain.
  long sent_ = 0;
  long failed_ = 0;
  // The last outage logged (number and text), until a change goes through.
  std::string outage_;
  // Whether the local Names table has its mail-room column, asked once per
  // drain rather than for every change.
  std::optional<bool> mailRoom_;
};

}  // namespace pv::sync

// The update-queue drain: on each tick of tmrUpdateQueue the local UpdateQueue
// is read once, in id order, and its rows are then worked one per step posted
// to the event loop, so link traffic, signals and other timers run between two
// rows. A tick that finds a drain still running does nothing, so no queue row
// is ever worked twice at the same time. Rows added meanwhile wait for the next
// tick; a row left in the queue (central side unreachable) is met again first.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "sync/queued_change.h"

namespace pv::sync {

// What the drain needs from the service host.
struct UpdateQueueContext {
  // The local connection when it is open, else null.
  std::function<db::Connection*()> local;
  // True while rows may be worked (the timer is on: link up and confirmed).
  // Checked before every row; false ends the drain, the rest wait.
  std::function<bool()> active;
  // The context of one upload, taken at the moment its row is worked.
  std::function<QueuedChangeContext()> change;
  ChangeLogFn writeLog;
  // Where the failed-changes file goes.
  std::function<std::string()> appFolder;
};

class UpdateQueueDrain : public std::enable_shared_from_this<UpdateQueueDrain> {
 public:
  UpdateQueueDrain(asio::io_context& io, UpdateQueueContext context);

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

  bool ReadQueue();
  void Step();
  void WorkBadRow(const Row& row);
  void End();

  asio::io_context& io_;
  UpdateQueueContext ctx_;
  std::deque<Row> rows_;
  bool draining_ = false;
};

}  // namespace pv::sync

#include "db/embedded/checkpointer.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "platform/utf8_paths.h"

namespace pv::db::embedded {

namespace {
constexpr int kAttempts = 20;
constexpr std::chrono::milliseconds kRetryDelay{25};
}  // namespace

std::function<void(int)> Checkpointer::CommitHook(std::filesystem::path file) {
  std::weak_ptr<Shared> weak = shared_;
  return [weak, file = std::move(file)](int frames) {
    if (frames < kFrames) return;
    if (auto shared = weak.lock()) Request(*shared, file);
  };
}

void Checkpointer::Request(Shared& shared, const std::filesystem::path& file) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (std::find(shared.pending.begin(), shared.pending.end(), file) == shared.pending.end()) {
    shared.pending.push_back(file);
  }
  if (!shared.worker.joinable()) {
    shared.stopping = false;
    shared.worker = std::thread([&shared] { Run(shared); });
  }
  shared.wake.notify_one();
}

void Checkpointer::Stop() {
  Shared& shared = *shared_;
  std::thread worker;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (!shared.worker.joinable()) return;
    shared.stopping = true;
    worker = std::move(shared.worker);
  }
  shared.wake.notify_one();
  worker.join();
}

void Checkpointer::Run(Shared& shared) {
  // The worker's own handles, one per database file it was asked about.
  std::map<std::filesystem::path, sqlite3*> handles;
  std::unique_lock<std::mutex> lock(shared.mutex);
  while (true) {
    shared.wake.wait(lock, [&shared] { return shared.stopping || !shared.pending.empty(); });
    if (shared.pending.empty()) break;  // stopping, with nothing left to copy
    const std::filesystem::path file = shared.pending.front();
    shared.pending.erase(shared.pending.begin());
    lock.unlock();
    sqlite3*& db = handles[file];
    if (!db) {
      if (sqlite3_open_v2(platform::Utf8FromPath(file).c_str(), &db,
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
      } else {
        sqlite3_close_v2(db);
        db = nullptr;
      }
    }
    // A checkpoint that fails (the database file cannot grow on a full
    // disk) is not an error to report: the commits it would have copied stay
    // in the log, where every reader finds them, and SQLite starts the log
    // over only after a checkpoint copied all of it. The log grows instead,
    // until the disk refuses a commit, and that statement fails.
    // PASSIVE never blocks other connections. When it cannot copy the whole
    // log at once (a reader or writer of another connection was busy at that
    // moment), it is tried again a few times shortly after; what is left
    // then is copied at a later request.
    for (int attempt = 0; db && attempt < kAttempts; ++attempt) {
      int logFrames = 0;
      int copied = 0;
      const int rc =
          sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copied);
      if (rc == SQLITE_OK && copied >= logFrames) break;
      std::this_thread::sleep_for(kRetryDelay);
    }
    lock.lock();
  }
  lock.unlock();
  for (auto& entry : handles) sqlite3_close_v2(entry.second);
}

}  // namespace pv::db::embedded

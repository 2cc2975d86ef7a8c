// Copies a database's write-ahead log back into the database file on a
// worker thread of the connection, instead of inside the statement whose
// commit filled the log: the event thread of the service never waits for the
// disk to take ten megabytes of photo a second time.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pv::db::embedded {

class Checkpointer {
 public:
  // Log size (in pages) from which a commit asks for a checkpoint, as
  // SQLite's own automatic checkpoint does.
  static constexpr int kFrames = 1000;

  Checkpointer() : shared_(std::make_shared<Shared>()) {}
  ~Checkpointer() { Stop(); }
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

  // What a handle on `file` calls after each commit with the log's size.
  std::function<void(int frames)> CommitHook(std::filesystem::path file);

  // Carries out the checkpoints asked for and ends the worker; the next
  // request starts it again.
  void Stop();

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::filesystem::path> pending;
    bool stopping = false;
    std::thread worker;
  };
  static void Request(Shared& shared, const std::filesystem::path& file);
  static void Run(Shared& shared);

  std::shared_ptr<Shared> shared_;
};

}  // namespace pv::db::embedded

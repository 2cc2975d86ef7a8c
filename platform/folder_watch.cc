#include "platform/folder_watch.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace pv::platform {

namespace {

constexpr auto kLongestTrust = std::chrono::seconds(1);

std::string KeyOf(const std::filesystem::path& folder) {
  return folder.lexically_normal().string();
}

}  // namespace

struct FolderWatch::Shared {
  std::string folder;
  // Moves on with every change; starts above any object's `seen_`.
  std::atomic<std::uint64_t> generation{1};
  std::atomic<bool> watching{false};
  int wd = -1;  // guarded by the registry's mutex
  ~Shared();
};

namespace {

// Every watched folder of the process, and the thread that reads their
// events. Made once and never destroyed: watches may outlive static objects.
class Registry {
 public:
  static Registry& Get() {
    static Registry* registry = new Registry;
    return *registry;
  }

  std::shared_ptr<FolderWatch::Shared> For(const std::filesystem::path& folder) {
    const std::string key = KeyOf(folder);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = byFolder_.begin(); it != byFolder_.end();) {
      it = it->second.expired() ? byFolder_.erase(it) : std::next(it);
    }
    if (auto found = byFolder_[key].lock()) return found;
    auto shared = std::make_shared<FolderWatch::Shared>();
    shared->folder = key;
    byFolder_[key] = shared;
    WatchLocked(*shared);
    return shared;
  }

  // A folder that was not watched (missing then, or removed since) is tried
  // again.
  void Rewatch(FolderWatch::Shared& shared) {
    std::lock_guard<std::mutex> lock(mutex_);
    WatchLocked(shared);
  }

  void Touch(const std::filesystem::path& folder) {
    std::shared_ptr<FolderWatch::Shared> shared;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = byFolder_.find(KeyOf(folder));
      if (it != byFolder_.end()) shared = it->second.lock();
    }
    // Released outside the lock: the last owner's release takes it again.
    if (shared) shared->generation.fetch_add(1);
  }

  void Forget(FolderWatch::Shared& shared) {
#ifdef __linux__
    std::lock_guard<std::mutex> lock(mutex_);
    if (shared.wd < 0) return;
    auto it = byWd_.find(shared.wd);
    if (it != byWd_.end() && it->second == &shared) {
      inotify_rm_watch(fd_, shared.wd);
      byWd_.erase(it);
    }
#else
    (void)shared;
#endif
  }

 private:
  Registry() {
#ifdef __linux__
    fd_ = inotify_init1(IN_CLOEXEC);
    if (fd_ >= 0) std::thread([this] { Read(); }).detach();
#endif
  }

  void WatchLocked(FolderWatch::Shared& shared) {
#ifdef __linux__
    if (fd_ < 0 || shared.watching.load()) return;
    const int wd = inotify_add_watch(fd_, shared.folder.c_str(),
                                     IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    // Two spellings of one folder get one watch: the newer one takes it, the
    // older one probes from now on.
    if (wd < 0) return;
    auto it = byWd_.find(wd);
    if (it != byWd_.end() && it->second != &shared) it->second->watching.store(false);
    byWd_[wd] = &shared;
    shared.wd = wd;
    shared.generation.fetch_add(1);  // what happened while unwatched is unknown
    shared.watching.store(true);
#else
    (void)shared;
#endif
  }

#ifdef __linux__
  void Read() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      for (ssize_t at = 0; at < n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        if ((ev->mask & IN_Q_OVERFLOW) != 0) {  // events were lost: all may have changed
          for (auto& [wd, shared] : byWd_) shared->generation.fetch_add(1);
          continue;
        }
        auto it = byWd_.find(ev->wd);
        if (it == byWd_.end()) continue;
        it->second->generation.fetch_add(1);
        if ((ev->mask & IN_IGNORED) != 0) {  // the watch ended with its folder
          it->second->watching.store(false);
          it->second->wd = -1;
          byWd_.erase(it);
        }
      }
    }
  }
#endif

  std::mutex mutex_;
  int fd_ = -1;
  std::map<std::string, std::weak_ptr<FolderWatch::Shared>> byFolder_;
  std::map<int, FolderWatch::Shared*> byWd_;
};

}  // namespace

FolderWatch::Shared::~Shared() { Registry::Get().Forget(*this); }

FolderWatch::FolderWatch(const std::filesystem::path& folder)
    : shared_(Registry::Get().For(folder)) {}

bool FolderWatch::Changed() {
  const auto now = CoarseClock::now();
  bool changed = !shared_ || now - lastProbe_ >= kLongestTrust;
  if (shared_) {
    if (!shared_->watching.load()) {
      Registry::Get().Rewatch(*shared_);
      changed = true;
    }
    const std::uint64_t generation = shared_->generation.load();
    changed = changed || generation != seen_;
    seen_ = generation;
  }
  if (changed) lastProbe_ = now;
  return changed;
}

void FolderWatch::Touch(const std::filesystem::path& folder) { Registry::Get().Touch(folder); }

}  // namespace pv::platform

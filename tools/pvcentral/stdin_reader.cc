#include "tools/pvcentral/stdin_reader.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf8_paths.h"
#else
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace pv::central {

struct StdinReader::State {
  std::function<void(std::string)> onLine;
  std::function<void()> onEnd;
  std::atomic<bool> stop{false};
  // Set while the thread waits in a console read (Windows), which only a key
  // in the console's input ends.
  std::atomic<bool> inConsoleRead{false};
  // Held while a callback runs, so that Stop() returns only between two.
  std::mutex deliver;
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
};

namespace {

constexpr std::size_t kMaxLine = 1 << 20;

// What one wait for input gave.
enum class Input { Data, Nothing, End };

#ifdef _WIN32

// Waits a fraction of a second for input where the kind of input allows it,
// and appends what arrived to `out`. A console is read a line at a time once
// it has input, so the console edits and echoes the line as usual; Ctrl+Z at
// the start of a line ends the input, as elsewhere on Windows. Pipes are
// polled where the system can say how much is waiting; otherwise (Wine's
// view of a Unix pipe) the read blocks. Files and NUL never make a read wait.
Input ReadSome(std::string& out, StdinReader::State& s, bool& pipePolls) {
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return Input::End;
  DWORD mode = 0;
  if (GetConsoleMode(h, &mode)) {
    if (WaitForSingleObject(h, 200) != WAIT_OBJECT_0) return Input::Nothing;
    s.inConsoleRead = true;
    if (s.stop) {
      s.inConsoleRead = false;
      return Input::Nothing;
    }
    wchar_t buf[4096];
    DWORD got = 0;
    const BOOL ok = ReadConsoleW(h, buf, sizeof buf / sizeof buf[0], &got, nullptr);
    s.inConsoleRead = false;
    if (!ok) return Input::End;
    if (got > 0 && buf[0] == 0x1A) return Input::End;
    out += platform::Utf8FromWide(std::wstring_view(buf, got));
    return Input::Data;
  }
  char buf[4096];
  DWORD want = sizeof buf;
  if (pipePolls && GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD avail = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr)) {
      // The writing side closed its end and everything has been read.
      if (GetLastError() == ERROR_BROKEN_PIPE) return Input::End;
      pipePolls = false;
      return Input::Nothing;
    }
    if (avail == 0) {
      Sleep(50);
      return Input::Nothing;
    }
    if (avail < want) want = avail;
  }
  DWORD got = 0;
  if (!ReadFile(h, buf, want, &got, nullptr) || got == 0) return Input::End;
  out.append(buf, got);
  return Input::Data;
}

// Ends a console read in progress: an Enter key typed into the console's
// input makes ReadConsoleW return.
void EndConsoleRead() {
  HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
  INPUT_RECORD keys[2] = {};
  for (int i = 0; i < 2; ++i) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
  }
  DWORD written = 0;
  WriteConsoleInputW(h, keys, 2, &written);
}

#else

// Waits a fraction of a second for input and appends what arrived to `out`.
Input ReadSome(std::string& out, StdinReader::State&, bool&) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  const int r = poll(&p, 1, 200);
  if (r < 0 && errno == EINTR) return Input::Nothing;
  if (r < 0) return Input::End;
  if (r == 0) return Input::Nothing;
  char buf[4096];
  const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return Input::Nothing;
  if (n <= 0) return Input::End;
  out.append(buf, static_cast<std::size_t>(n));
  return Input::Data;
}

#endif

// Calls `fn` unless the reader has been stopped.
template <typename Fn>
void Deliver(StdinReader::State& s, Fn&& fn) {
  std::lock_guard lock(s.deliver);
  if (!s.stop) fn();
}

void Run(StdinReader::State& s) {
  std::string pending;
  bool skipping = false;  // inside a line that was too long
  bool pipePolls = true;
  while (!s.stop) {
    const Input got = ReadSome(pending, s, pipePolls);
    if (got == Input::End) break;  // end of input: the simulator keeps running
    if (got == Input::Nothing) continue;
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      if (!skipping) Deliver(s, [&] { s.onLine(pending.substr(start, nl - start)); });
      skipping = false;
    }
    pending.erase(0, start);
    if (pending.size() > kMaxLine) {
      pending.clear();
      if (!skipping) Deliver(s, [&] { s.onLine(""); });  // reported as a malformed command
      skipping = true;
    }
  }
  if (s.onEnd) Deliver(s, [&] { s.onEnd(); });
}

}  // namespace

StdinReader::StdinReader(std::function<void(std::string)> onLine, std::function<void()> onEnd)
    : state_(std::make_shared<State>()) {
  state_->onLine = std::move(onLine);
  state_->onEnd = std::move(onEnd);
}

StdinReader::~StdinReader() { Stop(); }

void StdinReader::Start() {
  thread_ = std::thread([s = state_] {
    Run(*s);
    std::lock_guard lock(s->m);
    s->finished = true;
    s->cv.notify_all();
  });
}

void StdinReader::Stop() {
  {
    std::lock_guard lock(state_->deliver);
    state_->stop = true;
  }
  if (!thread_.joinable()) return;
#ifdef _WIN32
  if (state_->inConsoleRead) EndConsoleRead();
  std::unique_lock lock(state_->m);
  if (!state_->cv.wait_for(lock, std::chrono::milliseconds(500),
                           [this] { return state_->finished; })) {
    // Blocked in a read nothing can interrupt: the thread holds its own share
    // of the state and ends with the process.
    lock.unlock();
    thread_.detach();
    return;
  }
  lock.unlock();
#endif
  thread_.join();
}

}  // namespace pv::central

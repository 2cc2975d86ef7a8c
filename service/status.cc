#include "service/status.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/instance_lock.h"
#include "platform/utf8_paths.h"
#ifndef _WIN32
#include "platform/service/unit_file.h"
#endif

namespace pv::service {

namespace {

void AppendJsonText(std::string& out, const std::string& text) {
  out += '"';
  for (const unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static const char* hex = "0123456789abcdef";
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

// A small reader for one flat JSON object.
class FlatReader {
 public:
  explicit FlatReader(const std::string& text) : s_(text) {}

  std::optional<StatusRecord> Read() {
    StatusRecord record;
    if (!Expect('{')) return std::nullopt;
    Blanks();
    if (Peek() == '}') return ++i_, End(record);
    for (;;) {
      std::string name;
      if (!Text(name) || !Expect(':')) return std::nullopt;
      Blanks();
      if (Peek() == '"') {
        std::string value;
        if (!Text(value)) return std::nullopt;
        record.Set(name, value);
      } else {
        const std::size_t from = i_;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) ||
                                  s_[i_] == '-' || s_[i_] == '+' || s_[i_] == '.')) {
          ++i_;
        }
        const std::string word = s_.substr(from, i_ - from);
        if (word.empty()) return std::nullopt;
        if (word == "true" || word == "false" || word == "null") {
          record.Set(name, word == "null" ? "" : word);
        } else {
          record.SetNumber(name, std::strtoll(word.c_str(), nullptr, 10));
        }
      }
      Blanks();
      if (Peek() == ',') {
        ++i_;
        continue;
      }
      if (!Expect('}')) return std::nullopt;
      return End(record);
    }
  }

 private:
  std::optional<StatusRecord> End(StatusRecord& record) {
    Blanks();
    if (i_ != s_.size()) return std::nullopt;
    return record;
  }
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  void Blanks() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Expect(char c) {
    Blanks();
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  bool Text(std::string& out) {
    if (!Expect('"')) return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          const long code = std::strtol(s_.substr(i_, 4).c_str(), nullptr, 16);
          i_ += 4;
          // Only control characters are written this way.
          out += static_cast<char>(code < 0x80 ? code : '?');
          break;
        }
        default:
          out += e;
      }
    }
    return false;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

std::string ReadWhole(const std::string& path, bool& readable) {
  std::ifstream in(path, std::ios::binary);
  readable = static_cast<bool>(in);
  std::ostringstream text;
  if (readable) text << in.rdbuf();
  return text.str();
}

std::string Or(const std::string& text, const std::string& fallback) {
  return text.empty() ? fallback : text;
}

}  // namespace

const StatusRecord::Field* StatusRecord::Find(const std::string& name) const {
  for (const Field& f : fields_) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

StatusRecord::Field& StatusRecord::Slot(const std::string& name) {
  for (Field& f : fields_) {
    if (f.name == name) return f;
  }
  fields_.push_back({name, {}, false});
  return fields_.back();
}

void StatusRecord::Set(const std::string& name, std::string text) {
  Field& f = Slot(name);
  f.value = std::move(text);
  f.number = false;
}

void StatusRecord::SetNumber(const std::string& name, long long number) {
  Field& f = Slot(name);
  f.value = std::to_string(number);
  f.number = true;
}

std::string StatusRecord::Get(const std::string& name) const {
  const Field* f = Find(name);
  return f != nullptr ? f->value : std::string();
}

long long StatusRecord::Number(const std::string& name) const {
  const Field* f = Find(name);
  return f != nullptr ? std::strtoll(f->value.c_str(), nullptr, 10) : 0;
}

std::string StatusRecord::ToJson() const {
  std::string out = "{";
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    out += i == 0 ? "\n  " : ",\n  ";
    AppendJsonText(out, fields_[i].name);
    out += ": ";
    if (fields_[i].number) {
      out += fields_[i].value;
    } else {
      AppendJsonText(out, fields_[i].value);
    }
  }
  out += "\n}\n";
  return out;
}

std::optional<StatusRecord> StatusRecord::FromJson(const std::string& text) {
  return FlatReader(text).Read();
}

Verdict Judge(const StatusRecord* status, bool running, std::time_t now) {
  Verdict v;
  if (!running || status == nullptr) {
    v.problems.push_back(status == nullptr ? "no status file"
                                           : "no process holds the service's lock");
    return v;
  }
  v.health = Health::Healthy;
  if (status->Get("link") != "up") {
    v.problems.push_back(
        "link " + Or(status->Get("link"), "down") +
        (status->Get("linkReason").empty() ? "" : " (" + status->Get("linkReason") + ")"));
  }
  if (status->Get("localDatabase") != "open") {
    v.problems.push_back("local database " + Or(status->Get("localDatabase"), "closed") +
                         (status->Get("localDatabaseReason").empty()
                              ? ""
                              : " (" + status->Get("localDatabaseReason") + ")"));
  }
  if (status->Number("queueDepth") > 0) {
    const long long age = status->Number("queueOldestSeconds") +
                          std::max<long long>(0, now - status->Number("updatedEpoch"));
    if (age > kQueueAgeLimitSeconds) {
      v.problems.push_back("update queue row waiting " + std::to_string(age / 60) + " min");
    }
  }
  if (!v.problems.empty()) v.health = Health::Degraded;
  return v;
}

std::string DescribeStatus(const StatusRecord& s, const Verdict& v) {
  std::ostringstream out;
  auto line = [&out](const char* what, const std::string& text) {
    out << what << std::string(16 - std::string(what).size(), ' ') << text << "\n";
  };
  std::string verdict = v.health == Health::Healthy    ? "healthy"
                        : v.health == Health::Degraded ? "degraded"
                                                       : "not running";
  for (std::size_t i = 0; i < v.problems.size(); ++i)
    verdict += (i == 0 ? ": " : "; ") + v.problems[i];
  line("status", verdict);
  line("service", "pvremote " + s.Get("version") + ", pid " + s.Get("pid") + ", started " +
                      s.Get("started") + " (updated " + s.Get("updated") + ")");
  line("link", Or(s.Get("link"), "down") + " since " + Or(s.Get("linkSince"), "start") + ", " +
                   s.Get("centralHost") + ":" + s.Get("centralPort") +
                   (s.Get("linkReason").empty() ? "" : " (" + s.Get("linkReason") + ")"));
  line("installation", Or(s.Get("installationId"), "none yet") +
                           (s.Get("identified").empty() ? ""
                                                        : ", identified " + s.Get("identified") +
                                                              " with " + s.Get("identifiedWith")));
  line("central data", s.Get("dbin").empty()
                           ? "none received"
                           : s.Get("dbin") + " " + s.Get("dbinTime") + " (server " +
                                 s.Get("dbinServer") + ", database " + s.Get("dbinDatabase") + ")");
  line("full upload", s.Get("fullUploadStart").empty()
                          ? "none since start"
                          : s.Get("fullUploadStart") + " - " + Or(s.Get("fullUploadEnd"), "...") +
                                ", " + s.Get("fullUploadOutcome"));
  line("update queue",
       std::to_string(s.Number("queueDepth")) + " rows" +
           (s.Number("queueDepth") > 0
                ? ", oldest waiting " + std::to_string(s.Number("queueOldestSeconds")) + " s"
                : ""));
  line("last drain", Or(s.Get("lastDrain"), "none since start"));
  line("failed changes",
       std::to_string(s.Number("failedChanges")) + " since start" +
           (s.Get("lastFailure").empty() ? "" : ", last: " + s.Get("lastFailure")));
  line("local database",
       Or(s.Get("localDatabase"), "closed") +
           (s.Get("localDatabaseReason").empty() ? "" : " (" + s.Get("localDatabaseReason") + ")"));
  return out.str();
}

int ShowStatus(const platform::Paths& paths, bool json, std::ostream& out, std::ostream& err) {
  std::vector<std::string> folders{paths.LocalAppDataFolder()};
#ifndef _WIN32
  const char* state = std::getenv("STATE_DIRECTORY");
  if (paths.root().empty() && (state == nullptr || *state == '\0')) {
    folders.push_back(std::string(platform::kStateFolder) + "/");
  }
#endif
  // The folder a running service holds; else the first one with a status file.
  std::string folder;
  std::string denied;  // a folder this user may not look into
  bool running = false;
  for (const std::string& f : folders) {
    if (f.empty()) continue;
    std::error_code ec;
    (void)std::filesystem::status(platform::PathFromUtf8(f + kLockFileName), ec);
    if (ec == std::errc::permission_denied && denied.empty()) denied = f;
    if (platform::InstanceLockHeld(f + kLockFileName)) {
      folder = f;
      running = true;
      break;
    }
  }
  if (!running && !denied.empty()) {
    err << "pvremote: " << denied << " cannot be looked into by this user (permission denied); "
        << "run pvremote --status as the service's user or root\n";
    return kStatusUnknown;
  }
  bool readable = false;
  std::string text;
  for (const std::string& f : folders) {
    if (running && f != folder) continue;
    text = ReadWhole(f + kStatusFileName, readable);
    if (readable) {
      folder = f;
      break;
    }
  }
  std::optional<StatusRecord> status;
  if (readable) status = StatusRecord::FromJson(text);
  if (readable && !status)
    err << "pvremote: " << folder << kStatusFileName << " cannot be read as a status\n";
  if (running && !readable) {
    err << "pvremote: a service runs on " << folder << " but its status file cannot be read"
        << " (another user's folder: try as that user or root)\n";
  }
  Verdict verdict = Judge(status ? &*status : nullptr, running, std::time(nullptr));
  if (running && !status) verdict.health = Health::Degraded;
  const char* word = verdict.health == Health::Healthy    ? "healthy"
                     : verdict.health == Health::Degraded ? "degraded"
                                                          : "not running";
  if (json) {
    StatusRecord shown = status ? *status : StatusRecord();
    shown.Set("health", word);
    std::string problems;
    for (const std::string& p : verdict.problems) problems += (problems.empty() ? "" : "; ") + p;
    shown.Set("problems", problems);
    out << shown.ToJson();
  } else if (status) {
    out << DescribeStatus(*status, verdict);
  } else {
    out << "status          not running (no status file in "
        << Or(folders.front(), "the application-data folder") << ")\n";
  }
  return static_cast<int>(verdict.health);
}

}  // namespace pv::service

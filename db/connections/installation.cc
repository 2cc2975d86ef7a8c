#include "db/connections/installation.h"

#include <cstddef>
#include <random>

#include "common/text.h"
#include "db/error.h"
#include "db/sql_text.h"

namespace pv::db {

namespace {

// Shortened for error messages: a value in a log line needs no more.
std::string Shown(std::string_view text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return std::string(text);
  return std::string(text.substr(0, kMax)) + "...";
}

}  // namespace

std::string InstallationNumber(std::string_view installationId) {
  std::string_view s = installationId;
  while (!s.empty() && common::IsBlank(s.front())) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
  std::string_view digits = s.substr(0, n);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  if (digits.empty() || digits == "0") return "00000";
  std::string out(digits.size() < 5 ? 5 - digits.size() : 0, '0');
  out += digits;
  return negative ? "-" + out : out;
}

std::string InstallationDatabaseName(std::string_view installationId) {
  return "Installation" + InstallationNumber(installationId);
}

std::int64_t CheckedInstallationId(std::string_view installationId) {
  if (auto v = common::ParseInteger(installationId)) return *v;
  throw DbError(kErrTypeMismatch, "Type mismatch: installation id '" + Shown(installationId) +
                                      "' is not a whole number");
}

InstallationKey LoadInstallationID(Connection& local) {
  {
    auto rows = local.Query(
        "Select Count(*) From INFORMATION_SCHEMA.COLUMNS "
        "Where COLUMN_NAME = 'installationID' And TABLE_NAME = 'Settings'");
    const bool present = rows->Next() && rows->Get(0).AsInteger() > 0;
    rows->Close();
    if (!present)
      local.Execute("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;");
  }

  InstallationKey result;
  {
    auto rows = local.Query("Select installationID From Settings");
    if (rows->Next()) {
      const Value& stored = rows->Get(0);
      if (!stored.IsNull()) result.key = stored.ToText();
    }
    rows->Close();
  }
  if (result.key.empty()) {
    result.key = RandomID(50);
    result.isNew = true;
  }
  return result;
}

void StoreInstallationID(Connection& local, const std::string& key) {
  local.Execute("Update Settings Set installationID = '" + DoubleQuotes(key) + "';");
}

std::string RandomID(int length) {
  if (length < 1) return {};
  std::random_device source;
  std::uniform_int_distribution<int> letter(0, 25);
  std::string id;
  id.reserve(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) id += static_cast<char>('A' + letter(source));
  return id;
}

}  // namespace pv::db

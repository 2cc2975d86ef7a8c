#include "db/odbc/odbc_connection_string.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "common/text.h"
#include "db/error.h"
#include "db/odbc/odbc_diagnostics.h"

namespace pv::db::odbc {

namespace {

using common::EqualsNoCase;
using common::IsBlank;
using common::TrimBlanks;

// The driver name always stands in braces, so only '}' needs doubling.
std::string BracedDriver(std::string_view driver) {
  std::string out = "{";
  for (char c : TrimBlanks(driver)) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

struct Attribute {
  std::string key;    // as written, trimmed
  std::string value;  // unquoted, trimmed
  bool hasValue = false;
};

// Removes one level of quoting: {..} with "}}" for '}', or ".." / '..' with
// the quote doubled inside. Anything else is returned as it stands.
std::string Unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '{' && v.back() == '}') {
    std::string out;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
      out.push_back(v[i]);
      if (v[i] == '}' && i + 2 < v.size() && v[i + 1] == '}') ++i;
    }
    return out;
  }
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    const char q = v.front();
    std::string out;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
      out.push_back(v[i]);
      if (v[i] == q && i + 2 < v.size() && v[i + 1] == q) ++i;
    }
    return out;
  }
  return std::string(v);
}

// Splits at ';' outside quoted values. A value is quoted when its first
// non-blank character after '=' is '{', '"' or '\''; it then runs to the
// matching close (doubled closers stay inside).
std::vector<Attribute> SplitAdo(std::string_view text) {
  std::vector<Attribute> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Attribute a;
    std::size_t keyEnd = pos;
    while (keyEnd < text.size() && text[keyEnd] != '=' && text[keyEnd] != ';') ++keyEnd;
    a.key = std::string(TrimBlanks(text.substr(pos, keyEnd - pos)));
    if (keyEnd >= text.size() || text[keyEnd] == ';') {
      pos = keyEnd + 1;
      if (!a.key.empty()) out.push_back(std::move(a));
      continue;
    }
    a.hasValue = true;
    std::size_t v = keyEnd + 1;
    std::size_t first = v;
    while (first < text.size() && IsBlank(text[first])) ++first;
    std::size_t end = v;
    if (first < text.size() && (text[first] == '{' || text[first] == '"' || text[first] == '\'')) {
      const char close = text[first] == '{' ? '}' : text[first];
      std::size_t i = first + 1;
      while (i < text.size()) {
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      // Past the closer up to the next ';' (blanks only, as a rule).
      end = i < text.size() ? i + 1 : text.size();
      while (end < text.size() && text[end] != ';') ++end;
    } else {
      while (end < text.size() && text[end] != ';') ++end;
    }
    a.value = Unquote(TrimBlanks(text.substr(v, end - v)));
    a.value = std::string(TrimBlanks(a.value));
    out.push_back(std::move(a));
    pos = end + 1;
  }
  return out;
}

// The ODBC keyword for an ADO keyword; empty when the attribute is dropped.
std::string OdbcKey(const Attribute& a) {
  const std::string_view k = a.key;
  if (EqualsNoCase(k, "provider")) return {};
  if (EqualsNoCase(k, "user id") || EqualsNoCase(k, "uid")) return "UID";
  if (EqualsNoCase(k, "password") || EqualsNoCase(k, "pwd")) return "PWD";
  if (EqualsNoCase(k, "server") || EqualsNoCase(k, "data source") || EqualsNoCase(k, "address") ||
      EqualsNoCase(k, "addr")) {
    return "SERVER";
  }
  if (EqualsNoCase(k, "database") || EqualsNoCase(k, "initial catalog")) return "DATABASE";
  if (EqualsNoCase(k, "driver")) return "DRIVER";
  return a.key;
}

}  // namespace

BraceRule BraceRuleFor(std::string_view driver) {
  const std::string lower = common::AsciiLower(driver);
  return lower.find("freetds") != std::string::npos || lower.find("tdsodbc") != std::string::npos
             ? BraceRule::FreeTds
             : BraceRule::Doubled;
}

std::string QuoteOdbcValue(std::string_view value, BraceRule rule) {
  value = TrimBlanks(value);
  if (value.find_first_of(";{}") == std::string_view::npos) return std::string(value);
  if (rule == BraceRule::FreeTds) {
    if (value.find("};") != std::string_view::npos) {
      throw DbError(kErrOdbcGeneric,
                    "A connection value holds \"};\", which the FreeTDS driver cannot read");
    }
    return "{" + std::string(value) + "}";
  }
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

std::string OdbcConnectionString(const std::string& driver, const ConnectionParams& params) {
  const BraceRule rule = BraceRuleFor(driver);
  std::string server(TrimBlanks(params.server));
  const std::string_view port = TrimBlanks(params.port);
  if (!port.empty()) server += "," + std::string(port);
  return "DRIVER=" + BracedDriver(driver) + ";SERVER=" + QuoteOdbcValue(server, rule) +
         ";UID=" + QuoteOdbcValue(params.user, rule) +
         ";PWD=" + QuoteOdbcValue(params.password, rule) +
         ";DATABASE=" + QuoteOdbcValue(params.database, rule) + ";";
}

std::string OdbcConnectionStringFromAdo(const std::string& driver, std::string_view ado) {
  std::string driverPart = "DRIVER=" + BracedDriver(driver) + ";";
  BraceRule rule = BraceRuleFor(driver);
  std::string rest;
  std::vector<std::pair<std::string, std::string>> values;
  bool driverSeen = false;
  for (const Attribute& a : SplitAdo(ado)) {
    if (!a.hasValue) continue;  // the bare provider name ("MSDASQL") and other stray words
    const std::string key = OdbcKey(a);
    if (key.empty()) continue;
    if (key == "DRIVER") {
      if (driverSeen) continue;
      driverSeen = true;
      if (!a.value.empty() && !EqualsNoCase(a.value, "SQL Server")) {
        driverPart = "DRIVER=" + BracedDriver(a.value) + ";";
        rule = BraceRuleFor(a.value);
      }
      continue;
    }
    values.emplace_back(key, a.value);
  }
  for (const auto& [key, value] : values) rest += key + "=" + QuoteOdbcValue(value, rule) + ";";
  return driverPart + rest;
}

}  // namespace pv::db::odbc

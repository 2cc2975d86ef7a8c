#include "db/odbc/odbc_connection_string.h"

#include "common/text.h"
#include "db/error.h"
#include "db/odbc/odbc_diagnostics.h"

namespace pv::db::odbc {

namespace {

using common::TrimBlanks;

// `value` in braces with every '}' inside written twice.
std::string BracedDoubled(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

// The driver name always stands in braces, so only '}' needs doubling.
std::string BracedDriver(std::string_view driver) { return BracedDoubled(TrimBlanks(driver)); }

}  // namespace

BraceRule BraceRuleFor(std::string_view driver) {
  const std::string lower = common::AsciiLower(driver);
  return lower.find("freetds") != std::string::npos || lower.find("tdsodbc") != std::string::npos
             ? BraceRule::FreeTds
             : BraceRule::Doubled;
}

std::string QuoteOdbcValue(std::string_view value, BraceRule rule) {
  // Blanks at either end are part of the value (a password may have them);
  // in braces every driver keeps them.
  const bool blankEnd =
      !value.empty() && (common::IsBlank(value.front()) || common::IsBlank(value.back()));
  if (!blankEnd && value.find_first_of(";{}") == std::string_view::npos) return std::string(value);
  if (rule == BraceRule::FreeTds) {
    if (value.find("};") != std::string_view::npos) {
      throw DbError(kErrOdbcGeneric,
                    "A connection value holds \"};\", which the FreeTDS driver cannot read");
    }
    return "{" + std::string(value) + "}";
  }
  return BracedDoubled(value);
}

std::string OdbcConnectionString(const std::string& driver, const ConnectionParams& params) {
  const BraceRule rule = BraceRuleFor(driver);
  // A host name or port cannot hold a blank: those two alone are trimmed.
  std::string server(TrimBlanks(params.server));
  const std::string_view port = TrimBlanks(params.port);
  if (!port.empty()) server += "," + std::string(port);
  return "DRIVER=" + BracedDriver(driver) + ";SERVER=" + QuoteOdbcValue(server, rule) +
         ";UID=" + QuoteOdbcValue(params.user, rule) +
         ";PWD=" + QuoteOdbcValue(params.password, rule) +
         ";DATABASE=" + QuoteOdbcValue(params.database, rule) + ";";
}

}  // namespace pv::db::odbc

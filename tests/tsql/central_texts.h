// The installation database's statements exactly as the service sends them
// (taken from the schema itself), as test data for the T-SQL front.
#pragma once

#include <string_view>
#include <vector>

#include "schema/central_schema.h"

namespace pv::db::tsql::testing {

struct CentralTableText {
  std::string_view name;
  std::string_view sql;
};

inline std::vector<CentralTableText> CentralTableTexts() {
  std::vector<CentralTableText> out;
  for (const auto& t : schema::CentralTables()) out.push_back({t.name, t.createSql});
  return out;
}
inline std::vector<CentralTableText> CentralViewTexts() {
  std::vector<CentralTableText> out;
  for (const auto& v : schema::CentralViews()) out.push_back({v.name, v.createSql});
  return out;
}
inline std::string_view CentralText(std::string_view name) {
  for (const auto& t : CentralTableTexts())
    if (t.name == name) return t.sql;
  for (const auto& v : CentralViewTexts())
    if (v.name == name) return v.sql;
  return {};
}

inline const std::vector<CentralTableText> kCentralTables = CentralTableTexts();
inline const std::vector<CentralTableText> kCentralViews = CentralViewTexts();
inline const std::string_view kCreateNames = CentralText("Names");
inline const std::string_view kCreateVisitorLogs = CentralText("VisitorLogs");

}  // namespace pv::db::tsql::testing

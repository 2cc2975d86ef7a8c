#include "db/connections/installation.h"

#include <cstddef>

#include "db/error.h"

namespace pv::db {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string InstallationNumber(const std::string& installationId) {
  std::size_t pos = installationId.find_first_not_of(' ');
  if (pos == std::string::npos) pos = installationId.size();
  std::size_t end = pos;
  while (end < installationId.size() && IsDigit(installationId[end])) ++end;
  std::string digits = installationId.substr(pos, end - pos);
  const std::size_t firstNonZero = digits.find_first_not_of('0');
  digits = firstNonZero == std::string::npos ? std::string() : digits.substr(firstNonZero);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
  return digits;
}

std::string InstallationDatabaseName(const std::string& installationId) {
  return "Installation" + InstallationNumber(installationId);
}

const std::string& BareInstallationId(const std::string& installationId) {
  std::size_t pos = 0;
  if (!installationId.empty() && installationId[0] == '-') pos = 1;
  const std::size_t digits = installationId.size() - pos;
  bool ok = digits >= 1 && digits <= 18;
  for (std::size_t i = pos; ok && i < installationId.size(); ++i) ok = IsDigit(installationId[i]);
  if (!ok) {
    throw DbError(kErrTypeMismatch,
                  "Type mismatch: installation id '" + installationId + "' is not an integer");
  }
  return installationId;
}

}  // namespace pv::db

// The few POSIX calls the tests use for their own set-up (temporary folders,
// environment variables) that MinGW's C runtime lacks. The Windows test build
// includes this file ahead of every test source; elsewhere it is empty.
#pragma once

#if defined(_WIN32) && defined(__cplusplus)

#include <direct.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <random>

// Replaces the trailing "XXXXXX" of `pattern` and makes that folder.
inline char* mkdtemp(char* pattern) {
  const size_t length = strlen(pattern);
  if (length < 6 || strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::minstd_rand pick(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = length - 6; i < length; ++i) pattern[i] = kLetters[pick() % 36];
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

#endif

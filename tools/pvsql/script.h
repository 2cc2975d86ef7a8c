// Scripts as sqlcmd reads them: the text of a file in UTF-8 or UTF-16, its
// lines cut into batches at GO, the commands :r, :setvar, exit and quit, and
// scripting variables written $(name).
#pragma once

#include <filesystem>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/pvsql/batch_runner.h"

namespace pv::pvsql {

// Script bytes as UTF-8 text. A byte-order mark decides: FF FE is UTF-16
// little-endian, FE FF UTF-16 big-endian (as SSMS and PowerShell write
// scripts), EF BB BF UTF-8; the mark itself is dropped. Without one the bytes
// are taken as UTF-8.
std::string DecodeScript(std::string_view bytes);

// The decoded text of a script file; throws ScriptError (exit status 2) when
// it cannot be read.
std::string ReadScript(const std::filesystem::path& file);

// A script that cannot go on: the message and the exit status it ends with.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(const std::string& message, int exitStatus)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// Scripting variables. Names ignore case; a name not set here is looked up
// in the environment, as sqlcmd does.
class Variables {
 public:
  // Letters, digits, '_' and '-'.
  static bool ValidName(std::string_view name);
  void Set(std::string_view name, std::string value);
  void Unset(std::string_view name);
  // `text` with every $(name) replaced by its value; throws ScriptError
  // "'name' scripting variable not defined." for a name without one.
  std::string Substitute(std::string_view text) const;

 private:
  std::map<std::string, std::string> values_;  // by upper-case name
};

struct ReaderOptions {
  bool substitute = true;        // false with -x: $(name) stays as written
  bool abortOnError = false;     // -b
  std::ostream* echo = nullptr;  // -e: each batch is written here before it runs
};

// Reads scripts line by line and runs their batches on `runner`.
class ScriptReader {
 public:
  ScriptReader(BatchRunner& runner, Variables& variables, std::ostream& err, ReaderOptions options);

  // Runs a whole script (a -i file, standard input); the batch open at its
  // end runs too. False when the run is to stop: quit or exit, a failed batch
  // under -b, or a script error (reported on `err`).
  bool RunScript(std::string_view text);

  // Runs -Q's text as one batch (variables replaced; no commands but
  // exit(query)).
  bool RunQuery(std::string_view text);

  // 0, 1 when a batch failed or the script had an error, 2 when a file could
  // not be read, or the value exit(query) returned.
  int ExitStatus() const { return exitStatus_; }

 private:
  enum class Step { Next, Stop };
  Step Line(std::string_view line);
  Step Include(std::string_view argument);
  Step Exit(std::string_view rest);
  Step RunBatch(int repeat);
  bool Fail(const ScriptError& e);

  BatchRunner& runner_;
  Variables& variables_;
  std::ostream& err_;
  ReaderOptions options_;
  std::string batch_;
  int depth_ = 0;  // :r nesting
  int exitStatus_ = 0;
  bool batchFailed_ = false;  // the last batch run failed
};

}  // namespace pv::pvsql

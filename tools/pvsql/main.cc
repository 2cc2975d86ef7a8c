// pvsql: command-line client of the embedded SQL engine, with the common
// options of sqlcmd and the instance commands tests and operators need.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "common/version.h"
#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "platform/process_text.h"
#include "platform/service/unit_file.h"
#include "platform/utf8_paths.h"
#include "tools/pvsql/batch_runner.h"
#include "tools/pvsql/data_root.h"
#include "tools/pvsql/options.h"
#include "tools/pvsql/result_printer.h"
#include "tools/pvsql/script.h"
#include "tools/pvsql/terminal.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSqlFailure = 1;
constexpr int kExitUsage = 2;

using pv::pvsql::Command;
using pv::pvsql::Options;

int RunInstanceCommand(const Options& o, const std::filesystem::path& root) {
  namespace embedded = pv::db::embedded;
  switch (o.command) {
    case Command::CreateInstance:
      embedded::CreateInstance(root, o.server, o.port);
      break;
    case Command::SetLogin:
      embedded::SetLogin(root, o.server, o.port, o.loginUser, o.loginPassword);
      break;
    case Command::Offline:
      embedded::SetOnline(root, o.server, o.port, false);
      break;
    case Command::Online:
      embedded::SetOnline(root, o.server, o.port, true);
      break;
    default:
      break;
  }
  return kExitOk;
}

// What the run reads: -Q's text, or the decoded -i files, or standard input.
struct Input {
  bool isQuery = false;
  std::vector<std::string> scripts;
};

// The password of the login: -P, else SQLCMDPASSWORD, else (with -U) asked
// on the terminal. With no terminal to ask, the password is empty, so the
// login fails unless it has none.
std::string Password(const Options& o) {
  if (o.password) return *o.password;
  if (const char* env = std::getenv("SQLCMDPASSWORD"); env != nullptr) return env;
  if (o.userGiven) return pv::pvsql::AskPassword().value_or(std::string());
  return {};
}

// Results go to `out`, error messages to `err`.
int RunInput(const Options& o, const std::string& password, const std::filesystem::path& root,
             const Input& input, std::ostream& out, std::ostream& err) {
  const std::string serverName = o.server + "," + o.port;
  std::unique_ptr<pv::db::Connection> connection = pv::db::embedded::MakeEmbeddedConnection(root);
  pv::db::ConnectionParams params;
  params.server = o.server;
  params.port = o.port;
  params.user = o.user;
  params.password = password;
  params.database = o.database;
  try {
    connection->Open(params);
    connection->SetCommandTimeout(o.timeoutSeconds);
  } catch (const pv::db::DbError& e) {
    err << pv::pvsql::FormatError(e, serverName, 1)
        << pv::pvsql::MissingInstanceHint(root, o.server, o.port);
    return kExitSqlFailure;
  }

  pv::pvsql::PrintOptions printOptions;
  printOptions.separator = o.separator;
  printOptions.trimTrailing = o.trimTrailing;
  printOptions.headers = o.headers;
  pv::pvsql::ResultPrinter printer(out, printOptions);
  pv::pvsql::BatchRunner runner(*connection, printer, err, serverName);
  pv::pvsql::Variables variables;
  for (const auto& [name, value] : o.variables) variables.Set(name, value);
  pv::pvsql::ReaderOptions readerOptions;
  readerOptions.substitute = o.substitute;
  readerOptions.abortOnError = o.abortOnError;
  readerOptions.echo = o.echo ? &out : nullptr;
  pv::pvsql::ScriptReader reader(runner, variables, err, readerOptions);

  if (input.isQuery) {
    reader.RunQuery(input.scripts.front());
  } else {
    for (const std::string& script : input.scripts) {
      if (!reader.RunScript(script)) break;
    }
  }
  out.flush();
  connection->Close();
  return reader.ExitStatus();
}

// `args` without the program name.
int Main(const std::vector<std::string>& args) {
  std::string error;
  std::optional<Options> options = pv::pvsql::ParseArguments(args, error);
  if (!options) {
    std::cerr << "pvsql: " << error << "\nTry 'pvsql --help'.\n";
    return kExitUsage;
  }
  const Options& o = *options;
  if (o.command == Command::Version) {
    std::cout << pv::common::VersionLine("pvsql") << "\n";
    return 0;
  }
  if (o.command == Command::Help) {
    std::cout << pv::pvsql::UsageText();
    return kExitOk;
  }
#ifdef _WIN32
  const std::filesystem::path serviceFolder;
#else
  const std::filesystem::path serviceFolder = pv::platform::kStateFolder;
#endif
  const std::filesystem::path root = o.dataRoot.empty() ? pv::pvsql::DefaultDataRoot(serviceFolder)
                                                        : pv::platform::PathFromUtf8(o.dataRoot);
  if (o.command != Command::Run) {
    try {
      return RunInstanceCommand(o, root);
    } catch (const pv::db::DbError& e) {
      std::cerr << pv::pvsql::FormatError(e, o.server + "," + o.port, 1)
                << pv::pvsql::MissingInstanceHint(root, o.server, o.port);
      return kExitSqlFailure;
    }
  }

  // Asked for before a script is read from the same terminal.
  const std::string password = Password(o);
  Input input;
  try {
    if (o.query) {
      input.isQuery = true;
      input.scripts.push_back(*o.query);
    } else if (!o.inputFiles.empty()) {
      for (const std::string& file : o.inputFiles) {
        input.scripts.push_back(pv::pvsql::ReadScript(pv::platform::PathFromUtf8(file)));
      }
    } else {
#ifdef _WIN32
      // UTF-16 scripts come through unchanged only in binary mode.
      _setmode(_fileno(stdin), _O_BINARY);
#endif
      input.scripts.push_back(pv::pvsql::DecodeScript(
          std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>())));
    }
  } catch (const pv::pvsql::ScriptError& e) {
    std::cerr << e.what() << "\n";
    return e.exitStatus();
  }
  if (o.outputFile.empty()) return RunInput(o, password, root, input, std::cout, std::cerr);
  // -o takes the results and the error messages, as sqlcmd's does.
  std::ofstream file(pv::platform::PathFromUtf8(o.outputFile), std::ios::binary | std::ios::trunc);
  if (!file) {
    std::cerr << "pvsql: cannot write " << o.outputFile << "\n";
    return kExitUsage;
  }
  const int status = RunInput(o, password, root, input, file, file);
  file.close();
  if (!file) {
    std::cerr << "pvsql: cannot write " << o.outputFile << "\n";
    return kExitSqlFailure;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    pv::platform::UseUtf8Console();
    std::vector<std::string> args = pv::platform::Utf8Arguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    return Main(args);
  } catch (const pv::db::DbError& e) {
    std::cerr << "Msg " << e.number() << ", Level 16, State 1\n" << e.description() << "\n";
    return kExitSqlFailure;
  } catch (const std::exception& e) {
    std::cerr << "pvsql: " << e.what() << "\n";
    return kExitSqlFailure;
  }
}

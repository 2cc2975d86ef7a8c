// pvsql: command-line client of the embedded SQL engine, with the common
// options of sqlcmd and the instance commands tests and operators need.
#include <cstdio>
#include <exception>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "platform/process_text.h"
#include "platform/utf8_paths.h"
#include "schema/sql_scripts.h"
#include "tools/pvsql/batch_runner.h"
#include "tools/pvsql/data_root.h"
#include "tools/pvsql/options.h"
#include "tools/pvsql/result_printer.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSqlFailure = 1;
constexpr int kExitUsage = 2;

using pv::pvsql::Command;
using pv::pvsql::Options;

struct Script {
  std::string text;
  bool splitAtGo = true;  // false for -Q, which is one batch as given
};

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

int RunScripts(const Options& o, const std::filesystem::path& root,
               const std::vector<Script>& scripts) {
  const std::string serverName = o.server + "," + o.port;
  std::unique_ptr<pv::db::Connection> connection = pv::db::embedded::MakeEmbeddedConnection(root);
  pv::db::ConnectionParams params;
  params.server = o.server;
  params.port = o.port;
  params.user = o.user;
  params.password = o.password;
  params.database = o.database;
  try {
    connection->Open(params);
    connection->SetCommandTimeout(o.timeoutSeconds);
  } catch (const pv::db::DbError& e) {
    std::cerr << pv::pvsql::FormatError(e, serverName, 1);
    return kExitSqlFailure;
  }

  pv::pvsql::PrintOptions printOptions;
  printOptions.separator = o.separator;
  printOptions.trimTrailing = o.trimTrailing;
  printOptions.headers = o.headers;
  pv::pvsql::ResultPrinter printer(std::cout, printOptions);
  pv::pvsql::BatchRunner runner(*connection, printer, std::cerr, serverName);

  bool failed = false;
  for (const Script& script : scripts) {
    std::vector<pv::schema::Batch> batches;
    if (script.splitAtGo) {
      batches = pv::schema::SplitBatches(script.text);
    } else {
      batches.push_back({script.text, 1, 1});
    }
    for (const pv::schema::Batch& batch : batches) {
      for (int i = 0; i < batch.repeat; ++i) {
        if (!runner.Run(batch.text, batch.firstLine)) {
          failed = true;
          if (o.abortOnError) {
            std::cout.flush();
            connection->Close();
            return kExitSqlFailure;
          }
          break;
        }
      }
    }
  }
  std::cout.flush();
  connection->Close();
  return failed ? kExitSqlFailure : kExitOk;
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
  if (o.command == Command::Help) {
    std::cout << pv::pvsql::UsageText();
    return kExitOk;
  }
  const std::filesystem::path root =
      o.dataRoot.empty() ? pv::pvsql::DefaultDataRoot() : pv::platform::PathFromUtf8(o.dataRoot);
  if (o.command != Command::Run) {
    try {
      return RunInstanceCommand(o, root);
    } catch (const pv::db::DbError& e) {
      std::cerr << pv::pvsql::FormatError(e, o.server + "," + o.port, 1);
      return kExitSqlFailure;
    }
  }

  std::vector<Script> scripts;
  if (o.query) {
    scripts.push_back({*o.query, false});
  } else if (!o.inputFiles.empty()) {
    for (const std::string& file : o.inputFiles) {
      try {
        scripts.push_back({pv::schema::ReadTextFile(pv::platform::PathFromUtf8(file))});
      } catch (const std::exception& e) {
        std::cerr << "pvsql: " << e.what() << "\n";
        return kExitUsage;
      }
    }
  } else {
    scripts.push_back(
        {std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>())});
  }
  return RunScripts(o, root, scripts);
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

#include "tools/pvsql/options.h"

#include <cctype>
#include <charconv>

#include "tools/pvsql/script.h"

namespace pv::pvsql {
namespace {

bool ParseInt(const std::string& text, int& out) {
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, out);
  return !text.empty() && ec == std::errc() && ptr == end;
}

// Splits a comma-separated list of files, as sqlcmd accepts them after -i.
void AddFiles(const std::string& list, std::vector<std::string>& files) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) files.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
}

}  // namespace

bool ParseServer(const std::string& text, std::string& host, std::string& port) {
  std::string s = text;
  if (s.size() > 4 && (s.compare(0, 4, "tcp:") == 0 || s.compare(0, 4, "TCP:") == 0)) {
    s = s.substr(4);
  }
  std::string p = "1433";
  const std::size_t comma = s.find(',');
  if (comma != std::string::npos) {
    p = s.substr(comma + 1);
    s = s.substr(0, comma);
  }
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  while (!p.empty() && std::isspace(static_cast<unsigned char>(p.front()))) p.erase(0, 1);
  int number = 0;
  if (s.empty() || !ParseInt(p, number) || number < 1 || number > 65535) return false;
  host = s;
  port = std::to_string(number);
  return true;
}

std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::string& error) {
  Options o;
  int commands = 0;
  auto setCommand = [&](Command c) {
    o.command = c;
    ++commands;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // Long options and flags without a value.
    if (arg == "--help" || arg == "-?" || arg == "/?") {
      setCommand(Command::Help);
      continue;
    }
    if (arg == "--version") {
      setCommand(Command::Version);
      continue;
    }
    if (arg == "--create-instance") {
      setCommand(Command::CreateInstance);
      continue;
    }
    if (arg == "--offline") {
      setCommand(Command::Offline);
      continue;
    }
    if (arg == "--online") {
      setCommand(Command::Online);
      continue;
    }
    if (arg == "--set-login") {
      if (i + 2 >= args.size()) {
        error = "--set-login needs a user name and a password";
        return std::nullopt;
      }
      o.loginUser = args[++i];
      o.loginPassword = args[++i];
      if (o.loginUser.empty()) {
        error = "--set-login needs a user name";
        return std::nullopt;
      }
      setCommand(Command::SetLogin);
      continue;
    }
    if (arg == "--root") {
      if (i + 1 >= args.size()) {
        error = "--root needs a folder";
        return std::nullopt;
      }
      o.dataRoot = args[++i];
      continue;
    }
    if (arg == "-W") {
      o.trimTrailing = true;
      continue;
    }
    if (arg == "-b") {
      o.abortOnError = true;
      continue;
    }
    if (arg == "-e") {
      o.echo = true;
      continue;
    }
    if (arg == "-x") {
      o.substitute = false;
      continue;
    }
    if (arg.starts_with("-v")) {
      // sqlcmd takes several name=value pairs after one -v.
      std::vector<std::string> pairs;
      if (arg.size() > 2) pairs.push_back(arg.substr(2));
      while (i + 1 < args.size() && !args[i + 1].starts_with("-") &&
             args[i + 1].find('=') != std::string::npos) {
        pairs.push_back(args[++i]);
      }
      if (pairs.empty()) {
        error = "-v needs name=value";
        return std::nullopt;
      }
      for (const std::string& pair : pairs) {
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos || !Variables::ValidName(pair.substr(0, eq))) {
          error =
              "-v needs name=value (a name of letters, digits, '_' and '-'), not '" + pair + "'";
          return std::nullopt;
        }
        o.variables.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
      }
      continue;
    }
    // Single-letter options with a value, given apart ("-S host") or attached ("-Shost").
    if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') {
      error = "unexpected argument '" + arg + "'";
      return std::nullopt;
    }
    const char letter = arg[1];
    static const std::string kWithValue = "SdUPQishto";
    if (kWithValue.find(letter) == std::string::npos) {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    std::string value;
    if (arg.size() > 2) {
      value = arg.substr(2);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = std::string("option -") + letter + " needs a value";
      return std::nullopt;
    }
    switch (letter) {
      case 'S':
        if (!ParseServer(value, o.server, o.port)) {
          error = "invalid server '" + value + "' (expected host[,port])";
          return std::nullopt;
        }
        break;
      case 'd':
        o.database = value;
        break;
      case 'U':
        o.user = value;
        o.userGiven = true;
        break;
      case 'P':
        o.password = value;
        break;
      case 'Q':
        o.query = value;
        break;
      case 'i':
        AddFiles(value, o.inputFiles);
        break;
      case 'o':
        o.outputFile = value;
        break;
      case 's':
        if (value.empty()) {
          error = "option -s needs a separator";
          return std::nullopt;
        }
        o.separator = value;
        break;
      case 'h': {
        int n = 0;
        if (!ParseInt(value, n) || (n != -1 && n < 1)) {
          error = "option -h takes -1 or a positive number";
          return std::nullopt;
        }
        o.headers = n != -1;
        break;
      }
      case 't': {
        int n = 0;
        if (!ParseInt(value, n) || n < 0 || n > 65534) {
          error = "option -t takes a number of seconds from 0 to 65534";
          return std::nullopt;
        }
        o.timeoutSeconds = n;
        break;
      }
      default:
        break;
    }
  }
  if (commands > 1) {
    error =
        "give only one of --create-instance, --set-login, --offline, --online, --help, --version";
    return std::nullopt;
  }
  if (o.query && !o.inputFiles.empty()) {
    error = "-Q and -i cannot be used together";
    return std::nullopt;
  }
  return o;
}

std::string UsageText() {
  return R"usage(pvsql: client of the embedded SQL engine, with the common options of sqlcmd.

Usage:
  pvsql [-S server[,port]] [-d database] [-U user] [-P password]
        [-Q "query" | -i file[,file...]] [-o file] [-v name=value ...] [-x] [-e]
        [-s separator] [-W] [-h -1] [-b] [-t seconds]
  pvsql [-S server[,port]] --create-instance
  pvsql [-S server[,port]] --set-login USER PASSWORD
  pvsql [-S server[,port]] --offline | --online
  pvsql --help | --version

Connection:
  -S server[,port]  instance to use (default localhost,1433; "tcp:" prefix
                    accepted)
  -d database       database to start in (default: the instance's master)
  -U user           login (default sa)
  -P password       password; without -P the variable SQLCMDPASSWORD is used,
                    else, with -U, pvsql asks for it when standard input is a
                    terminal (nothing is shown while typing); with no terminal
                    the password is empty

Input:
  -Q "query"        run the query as one batch and exit; -Q "exit(query)" sets
                    the exit status as exit(query) in a script does
  -i file           run the script file(s); without -Q and -i the script is
                    read from standard input. Scripts may be UTF-8 (with or
                    without a byte-order mark) or UTF-16 LE or BE with a
                    byte-order mark, as SSMS and PowerShell save them
  -v name=value     set a scripting variable; several pairs may follow one -v
                    and -v may be repeated
  -x                leave $(name) in the text as it is written
  -b                stop at the first batch that fails (default: go on)
  -t seconds        time limit of each statement (0 = none)
  Statements of a batch are separated by ';' or simply follow each other
  (every result set is printed). SET NOCOUNT ON|OFF turns the
  "(N rows affected)" lines off and on.

Script commands (each on a line of its own, any case; exit and quit also
with a ':' before them):
  GO [n]            end the batch and run it (n times)
  :r file           read the file in at this point (relative to the current
                    directory; GO lines in it end batches)
  :setvar name value  set a scripting variable ("quoted" for blanks inside);
                    without a value it is removed
  $(name)           replaced by the variable's value anywhere in a line; -v
                    and :setvar set them, an environment variable of that name
                    stands in for one not set. An undefined one stops the run:
                    "'name' scripting variable not defined."
  :on error exit|ignore  stop at the first failed batch (as -b) or go on
  quit, exit        stop here, without running the batch not yet ended by GO
  exit()            run that batch, then stop
  exit(query)       run that batch with the query, then stop; the exit status
                    is the first column of the query's last row (0 when it is
                    no whole number)

Output:
  Each result set is printed as aligned columns: a header line, a line of
  dashes, the rows, a blank line and "(N rows affected)". NULL stands for a
  Null value, bits print as 1 and 0, date-times as yyyy-mm-dd hh:mm:ss.fff,
  binary values as 0x followed by upper-case hex digits.
  -o file           write the results and the error messages to the file
  -e                write each batch before its results
  -s separator      column separator (default a blank)
  -W                no padding: trailing blanks of every value removed
  -h -1             no header and no dashes line
  Errors go to standard error (with -o to the file) as "Msg <number>, Level
  <n>, State 1, Server <server>, Line <n>" followed by the message; the line
  counts within the batch, its first line being 1.

Instance commands (embedded engine only):
  --create-instance     create the instance named by -S, with the login sa and
                        an empty password (an existing instance is kept)
  --set-login USER PW   create the login USER or change its password
  --offline             stop the instance: connections to it fail (number 17)
                        and open ones fail their next statement
  --online              start it again
  --root folder         data root of the instances. Default: the one the
                        service uses: $PVREMOTE_ROOT/var/lib/pvremote/sql with
                        PVREMOTE_ROOT set; else /var/lib/pvremote/sql (the
                        state directory systemd gives the installed service)
                        when it exists; else the local application-data
                        folder + "sql/", as PVRemote and pvcentral use it

Exit status: 0 on success, 1 when a statement, the connection or a script
command failed, 2 for a bad command line or an unreadable file; exit(query)
sets its own.
)usage";
}

}  // namespace pv::pvsql

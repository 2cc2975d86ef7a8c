// The project's T-SQL scripts (folder sql/): where they are found, and how a
// script is cut into batches at its GO lines and run on a connection.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace pv::schema {

// The local entry-control database "Portavento".
inline constexpr std::string_view kLocalScript = "local_portavento.sql";
// Removes the optional column Names.mailRoomID from a database made by kLocalScript.
inline constexpr std::string_view kLocalDropMailRoomScript = "local_drop_mailroom.sql";
// The central home database (Installations, Emails, ClientQueue, UpdateQueue).
inline constexpr std::string_view kHomeScript = "central_home.sql";

// The folder holding the scripts: $PVREMOTE_SQL_DIR when set, else the
// installed copy (<program folder>/../share/pvremote/sql, or <program
// folder>/sql on Windows) when there is one, else the copy the build places
// in <build folder>/sql, else the source tree's sql/.
std::filesystem::path SqlScriptFolder();
std::filesystem::path SqlScriptPath(std::string_view fileName);

// The whole text of a script file; throws std::runtime_error when it cannot
// be read.
std::string ReadTextFile(const std::filesystem::path& path);
std::string ReadSqlScript(std::string_view fileName);

struct Batch {
  std::string text;
  int repeat = 1;     // "GO 3" runs the batch three times
  int firstLine = 1;  // line of the script where the batch text starts (1-based)
};

// A batch separator line: "GO" alone or followed by a repeat count, any
// case, blanks around it. Sets `repeat` (1 without a count).
bool IsGoLine(std::string_view line, int& repeat);

// Cuts a script into batches at lines that hold only "GO" (any case, blanks
// around it, an optional repeat count). Batches holding only blanks are
// dropped; a byte-order mark at the start is skipped.
std::vector<Batch> SplitBatches(std::string_view script);

// Executes every batch of `script` on `connection` in order; the first failure
// is thrown (db::DbError) and ends the run.
void RunSqlScript(db::Connection& connection, std::string_view script);

}  // namespace pv::schema

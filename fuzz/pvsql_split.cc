// Cuts any script as pvsql does: batches at GO lines, statements where the
// T-SQL front cuts them. Each statement is a piece of its batch and cuts into
// pieces of itself; a batch that cannot be cut (an unclosed quotation mark,
// comment or parenthesis) fails with the engine's error, nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "schema/sql_scripts.h"
#include "tools/pvsql/batch_runner.h"

static void Check(bool condition) {
  if (!condition) std::abort();
}

static int Lines(std::string_view text) {
  return 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string script(reinterpret_cast<const char*>(data), size);
  int previousLine = 0;
  for (const pv::schema::Batch& batch : pv::schema::SplitBatches(script)) {
    Check(batch.repeat >= 1 && batch.firstLine > previousLine && batch.firstLine <= Lines(script));
    previousLine = batch.firstLine;
    std::size_t used = 0;
    std::vector<pv::pvsql::StatementText> statements;
    try {
      statements = pv::pvsql::SplitStatements(batch.text);
    } catch (const pv::db::DbError&) {
      continue;
    }
    for (const pv::pvsql::StatementText& st : statements) {
      // In order, without overlapping: statements may touch ("(1)select").
      // The text may stand earlier too (in a comment): its line is no less.
      const std::size_t at = batch.text.find(st.text, used);
      Check(at != std::string::npos &&
            st.line >= Lines(std::string_view(batch.text).substr(0, at)) &&
            st.line <= Lines(batch.text));
      used = at + st.text.size();
      // Cut again, a statement gives pieces of itself: itself, or less when
      // its new ends make a GO line of "GO 12SELECT" or ";GO 4".
      for (const auto& piece : pv::pvsql::SplitStatements(st.text)) {
        Check(st.text.find(piece.text) != std::string::npos);
      }
      pv::pvsql::ReturnsRows(st.text);
    }
  }
  return 0;
}

// Cuts any script as pvsql does: batches at GO lines, statements at the
// semicolons outside literals, names and comments. Each statement is a piece
// of its batch and holds more than blanks and comments (it cuts into itself).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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
    const int lines = Lines(batch.text);
    std::size_t used = 0;
    for (const pv::pvsql::StatementText& st : pv::pvsql::SplitStatements(batch.text)) {
      Check(batch.text.find(st.text) != std::string::npos && st.line >= 1 && st.line <= lines);
      used += st.text.size() + 1;
      const auto again = pv::pvsql::SplitStatements(st.text);
      Check(again.size() == 1 && again[0].text == st.text);
      pv::pvsql::ReturnsRows(st.text);
    }
    Check(used <= batch.text.size() + 1);
  }
  return 0;
}

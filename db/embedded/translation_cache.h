// Translations of the batches a connection ran before. A batch run again
// takes its earlier translation; one that differs from an earlier batch only
// in its whole numbers (the ids of "Where id = 12", mostly) takes the earlier
// one with its own numbers put in, once a trial has shown that the
// translation carries each number through unchanged: the text translated
// with a distinct marker number in place of each must come out with each
// marker exactly once, and with the real numbers put back, equal to the
// translation of the real text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/tsql/translator.h"

namespace pv::db::embedded {

class TranslationCache {
 public:
  struct Schema {
    // Translates a text under the current schema; throws as the front does.
    std::function<std::vector<tsql::Statement>(const std::string&)> translate;
    // After a translation: the schema's generation, and whether it met an
    // unknown table or column (then the translation is not kept).
    std::function<std::uint64_t()> generation;
    std::function<bool()> missed;
  };

  // The statements of `batch`. Batches with variables, long ones and ones
  // the lexer refuses are translated every time.
  std::vector<tsql::Statement> Get(const std::string& batch, const Schema& schema);

 private:
  struct Entry {
    std::uint64_t generation = 0;
    bool templated = false;  // `statements` hold markers for the numbers
    bool tried = false;      // a template was tried and did not hold
    std::vector<std::string> numbers;
    std::vector<tsql::Statement> statements;
  };
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace pv::db::embedded

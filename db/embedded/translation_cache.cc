#include "db/embedded/translation_cache.h"

#include <optional>
#include <utility>

#include "db/tsql/lexer.h"

namespace pv::db::embedded {

namespace {

constexpr std::size_t kMaxEntries = 256;
constexpr std::size_t kMaxBatch = 4096;
// Whole numbers of up to nine digits are an int in T-SQL; longer ones stay.
constexpr std::size_t kMaxDigits = 9;
// Stands for a number in the key; a batch holding it is not kept.
constexpr char kMark = '\x01';

struct Shape {
  std::string key;
  std::vector<std::string> numbers;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset, length in the batch
};

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

std::optional<Shape> ShapeOf(const std::string& batch) {
  // A batch with variables gets a batch number of its own at every
  // translation.
  if (batch.size() > kMaxBatch || batch.find('@') != std::string::npos ||
      batch.find(kMark) != std::string::npos) {
    return std::nullopt;
  }
  std::vector<tsql::Token> tokens;
  try {
    tokens = tsql::Tokenize(batch);
  } catch (...) {
    return std::nullopt;  // the translation reports it
  }
  Shape s;
  std::size_t at = 0;
  for (const tsql::Token& t : tokens) {
    if (t.kind != tsql::TokKind::Number || t.text.size() > kMaxDigits || !AllDigits(t.text)) {
      continue;
    }
    const auto offset = static_cast<std::size_t>(t.text.data() - batch.data());
    s.key.append(batch, at, offset - at);
    s.key += kMark;
    at = offset + t.text.size();
    s.numbers.emplace_back(t.text);
    s.spans.emplace_back(offset, t.text.size());
  }
  s.key.append(batch, at);
  return s;
}

// The marker of the i-th number: twelve digits no real one of nine has.
std::string Marker(std::size_t i) {
  std::string n = std::to_string(i % 10000);
  return "7306" + std::string(4 - n.size(), '0') + n + "1953";
}

// Puts the numbers in place of their markers; false unless each marker is
// there exactly once.
bool PutNumbers(std::vector<tsql::Statement>& statements, const std::vector<std::string>& numbers) {
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::string marker = Marker(i);
    int found = 0;
    for (tsql::Statement& st : statements) {
      for (std::string* field : {&st.sql, &st.name}) {
        for (std::size_t p = field->find(marker); p != std::string::npos;
             p = field->find(marker, p + numbers[i].size())) {
          ++found;
          field->replace(p, marker.size(), numbers[i]);
        }
      }
    }
    if (found != 1) return false;
  }
  return true;
}

bool Same(const std::vector<tsql::Statement>& a, const std::vector<tsql::Statement>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].sql != b[i].sql || a[i].name != b[i].name ||
        a[i].skip != b[i].skip) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<tsql::Statement> TranslationCache::Get(const std::string& batch, const Schema& schema) {
  const std::optional<Shape> shape = ShapeOf(batch);
  if (!shape) return schema.translate(batch);
  auto it = entries_.find(shape->key);
  if (it != entries_.end() && it->second.generation == schema.generation()) {
    const Entry& e = it->second;
    if (e.templated) {
      std::vector<tsql::Statement> statements = e.statements;
      if (PutNumbers(statements, shape->numbers)) return statements;
    } else if (e.numbers == shape->numbers) {
      return e.statements;
    }
  }
  std::vector<tsql::Statement> real = schema.translate(batch);
  if (schema.missed()) return real;
  const std::uint64_t generation = schema.generation();
  if (it != entries_.end() && it->second.generation == generation) {
    Entry& e = it->second;
    // The second batch of this shape: try a template once.
    if (!e.templated && !e.tried && !shape->numbers.empty()) {
      e.tried = true;
      std::string trial;
      std::size_t at = 0;
      for (std::size_t i = 0; i < shape->spans.size(); ++i) {
        trial.append(batch, at, shape->spans[i].first - at);
        trial += Marker(i);
        at = shape->spans[i].first + shape->spans[i].second;
      }
      trial.append(batch, at);
      try {
        std::vector<tsql::Statement> markers = schema.translate(trial);
        std::vector<tsql::Statement> check = markers;
        if (!schema.missed() && schema.generation() == generation &&
            PutNumbers(check, shape->numbers) && Same(check, real)) {
          e.templated = true;
          e.statements = std::move(markers);
          return real;
        }
      } catch (...) {
        // The markers do not translate as the numbers did: no template.
      }
    }
    if (!e.templated) {
      e.numbers = shape->numbers;
      e.statements = real;
    }
    return real;
  }
  if (entries_.size() >= kMaxEntries) entries_.clear();
  entries_[shape->key] = Entry{generation, false, false, shape->numbers, real};
  return real;
}

}  // namespace pv::db::embedded

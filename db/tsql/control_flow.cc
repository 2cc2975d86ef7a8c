#include "db/tsql/control_flow.h"

#include "common/text.h"
#include "db/error.h"

namespace pv::db::tsql {
namespace {

struct Piece {
  enum class Kind { Statement, If, Else, Begin, End } kind;
  size_t b, e;  // the statement, or the condition of an IF
};

// Cuts the ranges further at the words of control flow: IF (its condition
// runs to the end of the piece), ELSE, BEGIN and END at the top level (an
// END closing a CASE, or ELSE inside one, stays in its statement).
std::vector<Piece> Pieces(Emitter& em, const std::vector<Range>& ranges) {
  const auto& t = em.tokens();
  std::vector<Piece> pieces;
  for (const Range& r : ranges) {
    if (IsWord(t[r.first], "CREATE")) {  // a definition's body is its own
      pieces.push_back({Piece::Kind::Statement, r.first, r.second});
      continue;
    }
    size_t start = r.first;
    int cases = 0;
    auto flush = [&](size_t end) {
      if (end <= start) return;
      if (IsWord(t[start], "WHILE") || IsWord(t[start], "GOTO") || IsWord(t[start], "RETURN")) {
        Unsupported(common::AsciiUpper(t[start].text));
      }
      if (IsWord(t[start], "IF")) {
        if (start + 1 >= end) SyntaxError(t[start]);
        pieces.push_back({Piece::Kind::If, start + 1, end});
      } else if (IsWord(t[start], "BEGIN") &&
                 !(start + 1 < end &&
                   (IsWord(t[start + 1], "TRAN") || IsWord(t[start + 1], "TRANSACTION")))) {
        if (start + 1 < end && (IsWord(t[start + 1], "TRY") || IsWord(t[start + 1], "CATCH"))) {
          Unsupported("BEGIN TRY ... END CATCH");
        }
        pieces.push_back({Piece::Kind::Begin, start, start + 1});
        if (start + 1 < end) pieces.push_back({Piece::Kind::Statement, start + 1, end});
      } else {
        pieces.push_back({Piece::Kind::Statement, start, end});
      }
    };
    for (size_t i = r.first; i < r.second; ++i) {
      const Token& k = t[i];
      if (IsOp(k, "(")) {
        i = em.Match(i);
      } else if (IsWord(k, "CASE")) {
        ++cases;
      } else if (IsWord(k, "END") && cases > 0) {
        --cases;
      } else if ((IsWord(k, "END") || IsWord(k, "ELSE")) && cases == 0) {
        flush(i);
        pieces.push_back({IsWord(k, "END") ? Piece::Kind::End : Piece::Kind::Else, i, i + 1});
        start = i + 1;
      } else if (IsWord(k, "BEGIN") && i > start && IsWord(t[start], "IF") && cases == 0) {
        flush(i);  // IF <condition> BEGIN on one piece
        start = i;
      }
    }
    flush(r.second);
  }
  return pieces;
}

class Blocks {
 public:
  Blocks(Emitter& em, std::vector<Piece> pieces, const TranslateFn& translate,
         std::vector<Statement>& out)
      : em_(em), p_(std::move(pieces)), translate_(translate), out_(out) {}

  void All() {
    while (i_ < p_.size()) One();
  }

 private:
  [[noreturn]] void Unexpected(size_t at) { SyntaxError(em_.tokens()[p_[at].b]); }

  // One statement: a plain one, an IF with its branches, or a block.
  void One() {
    const Piece piece = p_[i_];
    switch (piece.kind) {
      case Piece::Kind::Statement:
        translate_(em_, piece.b, piece.e, out_);
        ++i_;
        return;
      case Piece::Kind::If: {
        std::string condition;
        em_.ScanTables(piece.b, piece.e);
        em_.Emit(piece.b, piece.e, condition);
        const size_t test = out_.size();
        out_.push_back({Statement::Kind::Condition,
                        "SELECT CASE WHEN " + condition + " THEN 1 ELSE 0 END",
                        {},
                        0});
        if (++i_ >= p_.size()) SyntaxError(em_.tokens()[piece.e - 1]);
        One();
        if (i_ < p_.size() && p_[i_].kind == Piece::Kind::Else) {
          const size_t jump = out_.size();
          out_.push_back({Statement::Kind::Condition, {}, {}, 0});
          out_[test].skip = out_.size() - test - 1;
          if (++i_ >= p_.size()) Unexpected(i_ - 1);
          One();
          out_[jump].skip = out_.size() - jump - 1;
        } else {
          out_[test].skip = out_.size() - test - 1;
        }
        return;
      }
      case Piece::Kind::Begin: {
        const size_t begin = i_++;
        while (i_ < p_.size() && p_[i_].kind != Piece::Kind::End) One();
        if (i_ >= p_.size()) Unexpected(begin);
        ++i_;
        return;
      }
      default:
        Unexpected(i_);
    }
  }

  Emitter& em_;
  std::vector<Piece> p_;
  const TranslateFn& translate_;
  std::vector<Statement>& out_;
  size_t i_ = 0;
};

}  // namespace

void TranslateBlocks(Emitter& em, const std::vector<Range>& ranges, const TranslateFn& translate,
                     std::vector<Statement>& out) {
  Blocks(em, Pieces(em, ranges), translate, out).All();
}

}  // namespace pv::db::tsql

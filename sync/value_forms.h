// How values taken from database rows are written into the text of a SQL
// statement. Every statement this service sends is built by concatenation, so
// these forms are the only thing that stands between a value and the SQL
// text: every text literal has its single quotes doubled and carries the N
// prefix (so names outside the server's code page survive), and every bare
// number is written from a number.
//
// The forms, by name (the same name means the same thing in the full upload,
// the update queue and the central changes):
//
//   text conversion             bare text of the value; Null fails
//   bare number                 text conversion of a number; Null or not an integer fails
//   quoted, quote doubling      N'text'; Null fails
//   raw insertion, quoted       N'text'; Null gives N''
//   null default, quoted        N'text' or N'default' for Null
//   nullable, quote doubling    N'text' or the word Null
//   nullable date               N'2026-12-04T13:05:09' or the word Null
//
// Failures are thrown as db::DbError, so a builder that meets a value it
// cannot write fails its statement the same way as a rejected statement.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/error.h"
#include "db/sql_text.h"
#include "db/value.h"

namespace pv::sync {

// A Null where the form does not admit one.
inline constexpr long kErrInvalidUseOfNull = 94;
// A value that is not a whole number where a bare number goes.
inline constexpr long kErrNotANumber = db::kErrTypeMismatch;

// `text` with every single quote doubled.
using db::DoubleQuotes;

// A text literal: N'...' with every single quote doubled.
std::string TextLiteral(std::string_view text);

// Text conversion: the value's text (integers in decimal, bits True/False,
// date-times in ISO form). `what` names the value in the error
// ("Names.lastName").
std::string TextOf(const db::Value& value, std::string_view what);

// The value as a whole number: integers, integral floats and text holding an
// optionally signed decimal integer (blanks around it allowed).
std::int64_t IntegerOf(const db::Value& value, std::string_view what);

// Bare number: IntegerOf written in decimal.
std::string Number(const db::Value& value, std::string_view what);

// Bare number or the word Null.
std::string NullableNumber(const db::Value& value, std::string_view what);

// Quoted, quote doubling.
std::string Quoted(const db::Value& value, std::string_view what);

// Raw insertion, quoted: the value's text as it stands, between quotes, its
// quotes doubled so the stored text equals the source; Null gives N''.
std::string RawQuoted(const db::Value& value);

// Null default, quoted: the value's text, or `fallback` when it is Null, as a
// text literal. The forms "with" and "without" quote doubling both write
// this: text without quotes comes out the same, and text with quotes arrives
// intact instead of breaking the statement.
std::string DefaultQuoted(const db::Value& value, std::string_view fallback = {});

// Nullable, quote doubling: a text literal, or the word Null.
std::string NullableQuoted(const db::Value& value);

// Nullable date: the date-time's text as a literal, or the word Null.
std::string NullableDate(const db::Value& value);

}  // namespace pv::sync

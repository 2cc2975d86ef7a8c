// Conversions SQL Server applies when a literal meets a typed column, and the
// one text form in which the embedded engine stores date-times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pv::db::tsql {

// What a column's declared SQL Server type means for stored values.
enum class TypeClass { Unknown, Text, Integer, Bit, Decimal, Float, DateTime, Binary };

// Classifies a lower-case type name as SchemaLookup returns it ("nvarchar",
// "int", "bit", "datetime", "varbinary", ...).
TypeClass ClassOf(std::string_view lowerType);

// Date-times are stored as text "YYYY-MM-DD hh:mm:ss.fff" (always three
// fraction digits): one form per instant, so text order is time order.
inline constexpr size_t kStoredDateTimeSize = 23;
bool IsStoredDateTime(std::string_view text);

struct DateTimeParts {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Reads a date-time as SQL Server (language us_english) reads it from text:
// "2026-12-04T13:05:09[.fff]", "2026-12-04 13:05[:09[.fff]]", "2026-12-04",
// "20261204[ 13:05:09]", "12/4/2026[ 1:05:09 PM]", "13:05:09" (on 1900-01-01),
// and "" (1900-01-01 00:00:00). Fractions are rounded to SQL Server's
// datetime steps of 1/300 s. Empty when the text is no valid date-time in
// the datetime range (1753-01-01 to 9999-12-31).
std::optional<DateTimeParts> ParseDateTimeText(std::string_view text);

// SQL Server's reading of a number as a datetime: days after 1900-01-01.
std::optional<DateTimeParts> DateTimeFromDays(double days);
double DaysSince1900(const DateTimeParts& d);

std::string StoredDateTime(const DateTimeParts& d);

// The stored form of `text`, or empty when SQL Server would not read it.
std::optional<std::string> StoredDateTimeFromText(std::string_view text);

// SQL Server's conversion of text to bit: "True"/"False" (any case), numbers
// (non-zero is 1), "" is 0. Empty when the text does not convert.
std::optional<int> BitFromText(std::string_view text);

// Parses a whole decimal number (with optional sign, fraction and exponent,
// surrounding blanks allowed). Sets isInteger when it has neither fraction
// nor exponent and fits 64 bits.
bool ParseNumber(std::string_view text, double* value, std::int64_t* integer, bool* isInteger);

}  // namespace pv::db::tsql

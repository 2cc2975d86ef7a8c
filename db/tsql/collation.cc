// The collation NOCASE as SQL Server's default collation compares text, and
// the functions that share its letter folding: LIKE, UPPER, LOWER, CHARINDEX;
// with them DATALENGTH in SQL Server's bytes and CONVERT's date-time styles.
#include "db/tsql/collation.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/tsql/literals.h"

namespace pv::db::tsql {
namespace {

// --- Letter case -------------------------------------------------------------
// Simple (one to one) case mappings of the Basic Multilingual Plane, built
// once from the ranges below: Latin, Greek, Cyrillic, Armenian, Georgian,
// Glagolitic, Coptic, letter-like symbols and the full-width Latin letters.

struct Offset {
  unsigned lo, hi;
  int delta;
};
// Every letter in [lo, hi] is an upper-case letter whose lower case is c + delta.
constexpr Offset kOffsets[] = {
    {0x41, 0x5A, 32},       {0xC0, 0xD6, 32},       {0xD8, 0xDE, 32},      {0x388, 0x38A, 37},
    {0x38E, 0x38F, 63},     {0x391, 0x3A1, 32},     {0x3A3, 0x3AB, 32},    {0x3FD, 0x3FF, -130},
    {0x400, 0x40F, 80},     {0x410, 0x42F, 32},     {0x531, 0x556, 48},    {0x10A0, 0x10C5, 7264},
    {0x1F08, 0x1F0F, -8},   {0x1F18, 0x1F1D, -8},   {0x1F28, 0x1F2F, -8},  {0x1F38, 0x1F3F, -8},
    {0x1F48, 0x1F4D, -8},   {0x1F68, 0x1F6F, -8},   {0x1F88, 0x1F8F, -8},  {0x1F98, 0x1F9F, -8},
    {0x1FA8, 0x1FAF, -8},   {0x1FB8, 0x1FB9, -8},   {0x1FBA, 0x1FBB, -74}, {0x1FC8, 0x1FCB, -86},
    {0x1FD8, 0x1FD9, -8},   {0x1FDA, 0x1FDB, -100}, {0x1FE8, 0x1FE9, -8},  {0x1FEA, 0x1FEB, -112},
    {0x1FF8, 0x1FF9, -128}, {0x1FFA, 0x1FFB, -126}, {0x2160, 0x216F, 16},  {0x24B6, 0x24CF, 26},
    {0x2C00, 0x2C2F, 48},   {0xFF21, 0xFF3A, 32},
};

struct Pairs {
  unsigned lo, hi;
};
// Upper and lower case alternate, the upper-case letter at the even (first
// table) or odd (second table) code point.
constexpr Pairs kEvenPairs[] = {
    {0x100, 0x12F},   {0x132, 0x137},   {0x14A, 0x177},   {0x182, 0x185},   {0x1A0, 0x1A5},
    {0x1DE, 0x1EF},   {0x1F8, 0x21F},   {0x222, 0x233},   {0x246, 0x24F},   {0x370, 0x373},
    {0x3D8, 0x3EF},   {0x460, 0x481},   {0x48A, 0x4BF},   {0x4D0, 0x52F},   {0x1E00, 0x1E95},
    {0x1EA0, 0x1EFF}, {0x2C80, 0x2CE3}, {0xA640, 0xA66D}, {0xA680, 0xA69B}, {0xA722, 0xA72F},
    {0xA732, 0xA76F}, {0xA77E, 0xA787}, {0xA790, 0xA793}, {0xA796, 0xA7A9},
};
constexpr Pairs kOddPairs[] = {
    {0x139, 0x148}, {0x179, 0x17E}, {0x1B3, 0x1B6},
    {0x1CD, 0x1DC}, {0x4C1, 0x4CE}, {0xA779, 0xA77C},
};

struct Single {
  unsigned upper, lower;
};
constexpr Single kSingles[] = {
    {0x130, 0x69},    {0x178, 0xFF},    {0x181, 0x253},   {0x186, 0x254},   {0x187, 0x188},
    {0x189, 0x256},   {0x18A, 0x257},   {0x18B, 0x18C},   {0x18E, 0x1DD},   {0x18F, 0x259},
    {0x190, 0x25B},   {0x191, 0x192},   {0x193, 0x260},   {0x194, 0x263},   {0x196, 0x269},
    {0x197, 0x268},   {0x198, 0x199},   {0x19C, 0x26F},   {0x19D, 0x272},   {0x19F, 0x275},
    {0x1A6, 0x280},   {0x1A7, 0x1A8},   {0x1A9, 0x283},   {0x1AC, 0x1AD},   {0x1AE, 0x288},
    {0x1AF, 0x1B0},   {0x1B1, 0x28A},   {0x1B2, 0x28B},   {0x1B7, 0x292},   {0x1B8, 0x1B9},
    {0x1BC, 0x1BD},   {0x1C4, 0x1C6},   {0x1C5, 0x1C6},   {0x1C7, 0x1C9},   {0x1C8, 0x1C9},
    {0x1CA, 0x1CC},   {0x1CB, 0x1CC},   {0x1F1, 0x1F3},   {0x1F2, 0x1F3},   {0x1F4, 0x1F5},
    {0x1F6, 0x195},   {0x1F7, 0x1BF},   {0x220, 0x19E},   {0x23A, 0x2C65},  {0x23B, 0x23C},
    {0x23D, 0x19A},   {0x23E, 0x2C66},  {0x241, 0x242},   {0x243, 0x180},   {0x244, 0x289},
    {0x245, 0x28C},   {0x376, 0x377},   {0x386, 0x3AC},   {0x38C, 0x3CC},   {0x3CF, 0x3D7},
    {0x3F4, 0x3B8},   {0x3F7, 0x3F8},   {0x3F9, 0x3F2},   {0x3FA, 0x3FB},   {0x4C0, 0x4CF},
    {0x10C7, 0x2D27}, {0x10CD, 0x2D2D}, {0x1F59, 0x1F51}, {0x1F5B, 0x1F53}, {0x1F5D, 0x1F55},
    {0x1F5F, 0x1F57}, {0x1FBC, 0x1FB3}, {0x1FCC, 0x1FC3}, {0x1FEC, 0x1FE5}, {0x1FFC, 0x1FF3},
    {0x2126, 0x3C9},  {0x212A, 0x6B},   {0x212B, 0xE5},   {0x2132, 0x214E}, {0x2183, 0x2184},
    {0xA78B, 0xA78C},
};
// Letters that compare equal to another lower-case letter without being its
// upper case (final sigma, the long s, the micro sign, Greek symbol forms).
constexpr Single kFoldOnly[] = {
    {0xB5, 0x3BC},  {0x17F, 0x73},  {0x3C2, 0x3C3},   {0x3D0, 0x3B2},
    {0x3D1, 0x3B8}, {0x3D5, 0x3C6}, {0x3D6, 0x3C0},   {0x3F0, 0x3BA},
    {0x3F1, 0x3C1}, {0x3F5, 0x3B5}, {0x1E9B, 0x1E61}, {0x1E9E, 0xDF},
};

struct CaseTables {
  std::uint16_t lower[0x10000];
  std::uint16_t upper[0x10000];
  std::uint16_t fold[0x10000];
};

std::unique_ptr<CaseTables> BuildTables() {
  auto t = std::make_unique<CaseTables>();
  for (unsigned c = 0; c < 0x10000; ++c) t->lower[c] = t->upper[c] = static_cast<std::uint16_t>(c);
  auto map = [&](unsigned u, unsigned l) { t->lower[u] = static_cast<std::uint16_t>(l); };
  for (const Offset& o : kOffsets) {
    for (unsigned c = o.lo; c <= o.hi; ++c)
      map(c, static_cast<unsigned>(static_cast<int>(c) + o.delta));
  }
  for (const Pairs& p : kEvenPairs) {
    for (unsigned c = p.lo; c < p.hi; c += 2) map(c, c + 1);
  }
  for (const Pairs& p : kOddPairs) {
    for (unsigned c = p.lo; c < p.hi; c += 2) map(c, c + 1);
  }
  for (const Single& s : kSingles) map(s.upper, s.lower);
  // Upper case: the first letter (lowest code point) whose lower case it is.
  for (unsigned c = 0; c < 0x10000; ++c) {
    const unsigned l = t->lower[c];
    if (l != c && t->upper[l] == l) t->upper[l] = static_cast<std::uint16_t>(c);
  }
  for (unsigned c = 0; c < 0x10000; ++c) t->fold[c] = t->lower[c];
  for (const Single& s : kFoldOnly) t->fold[s.upper] = static_cast<std::uint16_t>(s.lower);
  return t;
}

const CaseTables& Tables() {
  static const std::unique_ptr<CaseTables> tables = BuildTables();
  return *tables;
}

unsigned Fold(const CaseTables& t, unsigned c) { return c < 0x10000 ? t.fold[c] : c; }

// The letter without its accent, for the first level of the comparison
// (Latin-1 Supplement and Latin Extended-A; '.' keeps the letter).
constexpr char kBaseC0[] =
    "aaaaaa.ceeeeiiii.nooooo.ouuuuy..aaaaaa.ceeeeiiii.nooooo.ouuuuy.y"
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii..jjkkklllllll"
    "lllnnnnnnnnnoooooo..rrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";

unsigned Base(unsigned folded) {
  if (folded >= 0xC0 && folded < 0x180) {
    const char b = kBaseC0[folded - 0xC0];
    if (b != '.') return static_cast<unsigned char>(b);
  }
  return folded;
}

// Decodes one UTF-8 character at s[*i]; bytes that are no valid UTF-8 map to
// distinct values above the Unicode range so that comparison stays total.
unsigned Next(const unsigned char* s, size_t n, size_t* i) {
  const unsigned c = s[*i];
  size_t len = 0;
  unsigned cp = 0;
  if (c < 0x80) {
    ++*i;
    return c;
  }
  if ((c & 0xE0) == 0xC0) {
    len = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    cp = c & 0x07;
  } else {
    ++*i;
    return 0x110000 + c;
  }
  if (*i + len > n) {
    ++*i;
    return 0x110000 + c;
  }
  for (size_t k = 1; k < len; ++k) {
    const unsigned d = s[*i + k];
    if ((d & 0xC0) != 0x80) {
      ++*i;
      return 0x110000 + c;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  *i += len;
  return cp;
}

std::u32string Decode(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) out.push_back(Next(p, s.size(), &i));
  return out;
}

void AppendUtf8(unsigned c, std::string& out) {
  if (c >= 0x110000) {
    out.push_back(static_cast<char>(c - 0x110000));  // an undecodable byte, kept
  } else if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string MapCase(std::string_view s, bool upper) {
  const CaseTables& t = Tables();
  std::string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const unsigned c = Next(p, s.size(), &i);
    AppendUtf8(c < 0x10000 ? (upper ? t.upper[c] : t.lower[c]) : c, out);
  }
  return out;
}

// One character against another: base letter first, then the accent.
int CompareChar(const CaseTables& t, unsigned a, unsigned b) {
  const unsigned fa = Fold(t, a), fb = Fold(t, b);
  if (fa == fb) return 0;
  const unsigned ba = Base(fa), bb = Base(fb);
  if (ba != bb) return ba < bb ? -1 : 1;
  return fa < fb ? -1 : 1;
}

int Collate(void*, int na, const void* pa, int nb, const void* pb) {
  return CompareText(std::string_view(static_cast<const char*>(pa), static_cast<size_t>(na)),
                     std::string_view(static_cast<const char*>(pb), static_cast<size_t>(nb)));
}

// --- SQL functions -------------------------------------------------------------

std::string_view TextArg(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  return p ? std::string_view(reinterpret_cast<const char*>(p),
                              static_cast<size_t>(sqlite3_value_bytes(v)))
           : std::string_view();
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void Fail(sqlite3_context* ctx, long number, const std::string& text) {
  const std::string msg = "[" + std::to_string(number) + "] " + text;
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
  }
  return false;
}

// like(pattern, text[, escape]): SQLite's operator "text LIKE pattern".
void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  int escape = -1;
  if (argc == 3) {
    const std::u32string e = Decode(TextArg(argv[2]));
    if (e.size() != 1) {
      return Fail(ctx, 506,
                  "The invalid escape character \"" + std::string(TextArg(argv[2])) +
                      "\" was specified in a LIKE predicate.");
    }
    escape = static_cast<int>(e[0]);
  }
  sqlite3_result_int(ctx, LikeMatch(TextArg(argv[0]), TextArg(argv[1]), escape));
}

void CaseFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  ResultText(ctx, MapCase(TextArg(argv[0]), sqlite3_user_data(ctx) != nullptr));
}

// pv_charindex(needle, haystack[, start]): 1-based position of the first
// occurrence at or after start, letters compared without regard to case; 0
// when there is none.
void CharIndexFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const CaseTables& t = Tables();
  const std::u32string needle = Decode(TextArg(argv[0]));
  const std::u32string hay = Decode(TextArg(argv[1]));
  std::int64_t start = argc == 3 ? sqlite3_value_int64(argv[2]) : 1;
  if (start < 1) start = 1;
  if (needle.empty()) return sqlite3_result_int(ctx, 0);
  for (size_t i = static_cast<size_t>(start - 1); i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && Fold(t, needle[k]) == Fold(t, hay[i + k])) ++k;
    if (k == needle.size()) return sqlite3_result_int64(ctx, static_cast<std::int64_t>(i + 1));
  }
  sqlite3_result_int(ctx, 0);
}

// pv_datalength(value, kind): SQL Server's size in bytes. kind 2: Unicode text
// (two bytes a UTF-16 unit), 1: single-byte text (a byte a character), 0: the
// type unknown (text counts as Unicode, a stored date-time as 8 bytes).
void DataLengthFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  const int kind = sqlite3_value_int(argv[1]);
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return sqlite3_result_null(ctx);
    case SQLITE_BLOB:
      return sqlite3_result_int(ctx, sqlite3_value_bytes(v));
    case SQLITE_INTEGER:
      if (kind == 0) {
        const std::int64_t i = sqlite3_value_int64(v);
        return sqlite3_result_int(ctx, i >= INT32_MIN && i <= INT32_MAX ? 4 : 8);
      }
      break;
    case SQLITE_FLOAT:
      if (kind == 0) return sqlite3_result_int(ctx, 8);
      break;
    default:
      break;
  }
  const std::string_view s = TextArg(v);
  if (kind == 0 && IsStoredDateTime(s)) return sqlite3_result_int(ctx, 8);
  std::int64_t units = 0;
  for (char32_t c : Decode(s)) units += (kind != 1 && c >= 0x10000 && c < 0x110000) ? 2 : 1;
  sqlite3_result_int64(ctx, kind == 1 ? units : units * 2);
}

std::string TwoDigits(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// A date-time in one of CONVERT's styles; empty when the style is unknown.
std::optional<std::string> FormatDateTime(const DateTimeParts& d, int style) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const bool century = style >= 100;
  char y[8];
  std::snprintf(y, sizeof y, "%04d", d.year);
  const std::string yy = century ? std::string(y) : std::string(y + 2);
  const std::string mm = TwoDigits(d.month), dd = TwoDigits(d.day);
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", d.hour, d.minute, d.second);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", d.millisecond);
  switch (style) {
    case 0:
    case 100: {
      char b[40];
      const int h12 = d.hour % 12 == 0 ? 12 : d.hour % 12;
      std::snprintf(b, sizeof b, "%s %2d %04d %2d:%02d%s", kMonths[d.month - 1], d.day, d.year, h12,
                    d.minute, d.hour < 12 ? "AM" : "PM");
      return std::string(b);
    }
    case 1:
    case 101:
      return mm + "/" + dd + "/" + yy;
    case 2:
    case 102:
      return yy + "." + mm + "." + dd;
    case 3:
    case 103:
      return dd + "/" + mm + "/" + yy;
    case 4:
    case 104:
      return dd + "." + mm + "." + yy;
    case 5:
    case 105:
      return dd + "-" + mm + "-" + yy;
    case 8:
    case 108:
      return std::string(time);
    case 10:
    case 110:
      return mm + "-" + dd + "-" + yy;
    case 11:
    case 111:
      return yy + "/" + mm + "/" + dd;
    case 12:
    case 112:
      return yy + mm + dd;
    case 20:
    case 120:
      return std::string(y) + "-" + mm + "-" + dd + " " + time;
    case 21:
    case 25:
    case 121:
      return std::string(y) + "-" + mm + "-" + dd + " " + time + ms;
    case 23:
      return std::string(y) + "-" + mm + "-" + dd;
    case 126:
    case 127:
      return std::string(y) + "-" + mm + "-" + dd + "T" + time + (d.millisecond ? ms : "");
    default:
      return std::nullopt;
  }
}

// pv_datetime_text(value, style): CONVERT(<text type>, value, style). A
// stored date-time is written in the style; other values as text.
void DateTimeTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  if (sqlite3_value_type(v) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const std::string_view s = TextArg(v);
  if (sqlite3_value_type(v) != SQLITE_TEXT || !IsStoredDateTime(s)) {
    return ResultText(ctx, std::string(s));
  }
  const int style = sqlite3_value_int(argv[1]);
  const auto d = ParseDateTimeText(s);
  const auto text = d ? FormatDateTime(*d, style) : std::nullopt;
  if (!text) {
    return Fail(ctx, 281,
                std::to_string(style) +
                    " is not a valid style number when converting from datetime to a character "
                    "string.");
  }
  ResultText(ctx, *text);
}

// pv_datetime_style(value, style): CONVERT(datetime, value, style). Styles
// with the day first (3, 103, 4, 104, 5, 105) read "dd/mm/yyyy"; the others
// read as the date-time forms SQL Server always accepts.
void DateTimeStyleFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  if (sqlite3_value_type(v) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string s(TextArg(v));
  const int style = sqlite3_value_int(argv[1]) % 100;
  if (sqlite3_value_type(v) == SQLITE_TEXT && (style == 3 || style == 4 || style == 5)) {
    // dd?mm?yyyy...: swap day and month into the month-first form.
    const size_t a = s.find_first_of("/.-");
    const size_t b = a == std::string::npos ? a : s.find_first_of("/.-", a + 1);
    if (b != std::string::npos) {
      s = s.substr(a + 1, b - a - 1) + "/" + s.substr(0, a) + "/" + s.substr(b + 1);
    }
  }
  std::optional<std::string> stored;
  if (sqlite3_value_type(v) == SQLITE_TEXT) {
    const auto d = ParseDateTimeText(s);
    if (d) stored = StoredDateTime(*d);
  } else if (auto d = DateTimeFromDays(sqlite3_value_double(v))) {
    stored = StoredDateTime(*d);
  }
  if (!stored) {
    return Fail(ctx, 241,
                "Conversion failed when converting date and/or time from character string.");
  }
  ResultText(ctx, *stored);
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  size_t na = a.size(), nb = b.size();
  while (na > 0 && pa[na - 1] == ' ') --na;
  while (nb > 0 && pb[nb - 1] == ' ') --nb;
  const CaseTables* t = nullptr;
  int accent = 0;  // the first difference of accents, used when the letters agree
  size_t i = 0, j = 0;
  while (i < na && j < nb) {
    if (pa[i] < 0x80 && pb[j] < 0x80) {
      unsigned x = pa[i++], y = pb[j++];
      if (x >= 'A' && x <= 'Z') x += 32;
      if (y >= 'A' && y <= 'Z') y += 32;
      if (x != y) return x < y ? -1 : 1;
      continue;
    }
    if (!t) t = &Tables();
    const unsigned fx = Fold(*t, Next(pa, na, &i));
    const unsigned fy = Fold(*t, Next(pb, nb, &j));
    if (fx == fy) continue;
    const unsigned bx = Base(fx), by = Base(fy);
    if (bx != by) return bx < by ? -1 : 1;
    if (accent == 0) accent = fx < fy ? -1 : 1;
  }
  if (i < na) return 1;
  if (j < nb) return -1;
  return accent;
}

bool LikeMatch(std::string_view pattern, std::string_view text, int escape) {
  const CaseTables& t = Tables();
  // The pattern as elements: '%', '_', a literal character or a class.
  struct Element {
    enum Kind { Many, One, Char, Class } kind;
    unsigned c = 0;
    bool negated = false;
    std::vector<std::pair<unsigned, unsigned>> ranges;
  };
  const std::u32string p = Decode(pattern);
  std::vector<Element> elems;
  for (size_t i = 0; i < p.size(); ++i) {
    const unsigned c = p[i];
    if (escape >= 0 && c == static_cast<unsigned>(escape) && i + 1 < p.size()) {
      elems.push_back({Element::Char, p[++i], false, {}});
    } else if (c == '%') {
      if (elems.empty() || elems.back().kind != Element::Many)
        elems.push_back({Element::Many, 0, false, {}});
    } else if (c == '_') {
      elems.push_back({Element::One, 0, false, {}});
    } else if (c == '[' && p.find(U']', i + 1) != std::u32string::npos) {
      const size_t close = p.find(U']', i + (p[i + 1] == ']' ? 2 : 1));
      if (close == std::u32string::npos) {
        elems.push_back({Element::Char, c, false, {}});
        continue;
      }
      Element cls{Element::Class, 0, false, {}};
      size_t k = i + 1;
      if (k < close && p[k] == '^') {
        cls.negated = true;
        ++k;
      }
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == '-') {
          cls.ranges.emplace_back(p[k], p[k + 2]);
          k += 2;
        } else {
          cls.ranges.emplace_back(p[k], p[k]);
        }
      }
      elems.push_back(std::move(cls));
      i = close;
    } else {
      elems.push_back({Element::Char, c, false, {}});
    }
  }
  auto matches = [&](const Element& e, unsigned c) {
    switch (e.kind) {
      case Element::One:
        return true;
      case Element::Char:
        return Fold(t, e.c) == Fold(t, c);
      case Element::Class: {
        bool in = false;
        for (const auto& [lo, hi] : e.ranges) {
          if (lo == hi ? Fold(t, lo) == Fold(t, c)
                       : CompareChar(t, lo, c) <= 0 && CompareChar(t, c, hi) <= 0) {
            in = true;
            break;
          }
        }
        return in != e.negated;
      }
      default:
        return false;
    }
  };
  const std::u32string s = Decode(text);
  size_t pi = 0, si = 0, starP = SIZE_MAX, starS = 0;
  while (si < s.size()) {
    if (pi < elems.size() && elems[pi].kind == Element::Many) {
      starP = pi++;
      starS = si;
    } else if (pi < elems.size() && matches(elems[pi], s[si])) {
      ++pi;
      ++si;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < elems.size() && elems[pi].kind == Element::Many) ++pi;
  return pi == elems.size();
}

std::string UpperText(std::string_view s) { return MapCase(s, true); }
std::string LowerText(std::string_view s) { return MapCase(s, false); }

int RegisterTextFunctions(sqlite3* db) {
  static int upperTag = 1;
  const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  struct Fn {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    void* data;
  };
  const Fn fns[] = {
      {"like", 2, LikeFunction, nullptr},
      {"like", 3, LikeFunction, nullptr},
      {"upper", 1, CaseFunction, &upperTag},
      {"lower", 1, CaseFunction, nullptr},
      {"pv_charindex", 2, CharIndexFunction, nullptr},
      {"pv_charindex", 3, CharIndexFunction, nullptr},
      {"pv_datalength", 2, DataLengthFunction, nullptr},
      {"pv_datetime_text", 2, DateTimeTextFunction, nullptr},
      {"pv_datetime_style", 2, DateTimeStyleFunction, nullptr},
  };
  int rc = sqlite3_create_collation(db, "NOCASE", SQLITE_UTF8, nullptr, Collate);
  for (const Fn& f : fns) {
    if (rc != SQLITE_OK) break;
    rc = sqlite3_create_function(db, f.name, f.args, det, f.data, f.fn, nullptr, nullptr);
  }
  return rc;
}

}  // namespace pv::db::tsql

#include "tools/pvsql/result_printer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace pv::pvsql {
namespace {

// Characters of a UTF-8 text as a terminal shows them (continuation bytes do
// not count).
std::size_t DisplayWidth(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

void TrimRight(std::string& s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
}

bool IsNumeric(const db::Value& v) {
  return v.type() == db::Value::Type::Integer || v.type() == db::Value::Type::Float;
}

}  // namespace

std::string DisplayText(const db::Value& value) {
  switch (value.type()) {
    case db::Value::Type::Null:
      return "NULL";
    case db::Value::Type::Bit:
      return value.AsBit() ? "1" : "0";
    case db::Value::Type::DateTime: {
      const db::DateTime& d = value.AsDateTime();
      char buf[48];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                    d.hour, d.minute, d.second, d.nanosecond / 1000000);
      return buf;
    }
    case db::Value::Type::Binary: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const db::Bytes& bytes = value.AsBinary();
      std::string out;
      out.reserve(2 + bytes.size() * 2);
      out += "0x";
      for (std::uint8_t b : bytes) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
      }
      return out;
    }
    default:
      return value.ToText();
  }
}

ResultPrinter::ResultPrinter(std::ostream& out, PrintOptions options)
    : out_(out), options_(std::move(options)) {}

void ResultPrinter::PrintLine(const std::vector<std::string>& cells,
                              const std::vector<std::size_t>& widths,
                              const std::vector<bool>& rightAlign) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += options_.separator;
    std::string cell = cells[i];
    if (options_.trimTrailing) {
      TrimRight(cell);
      line += cell;
      continue;
    }
    const std::size_t width = DisplayWidth(cell);
    const std::size_t pad = widths[i] > width ? widths[i] - width : 0;
    if (rightAlign[i]) line.append(pad, ' ');
    line += cell;
    if (!rightAlign[i]) line.append(pad, ' ');
  }
  out_ << line << '\n';
}

std::int64_t ResultPrinter::PrintRowset(db::Rowset& rows) {
  const int columns = rows.ColumnCount();
  std::vector<std::string> header(static_cast<std::size_t>(columns));
  for (int c = 0; c < columns; ++c) header[static_cast<std::size_t>(c)] = rows.ColumnName(c);
  std::vector<std::size_t> widths(header.size(), 0);
  std::vector<bool> rightAlign(header.size(), false);

  auto dashesFor = [&](const std::vector<std::size_t>& w) {
    std::vector<std::string> dashes(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) dashes[i] = std::string(w[i], '-');
    return dashes;
  };
  auto readRow = [&]() {
    std::vector<std::string> cells(header.size());
    for (int c = 0; c < columns; ++c) {
      const db::Value& v = rows.Get(c);
      cells[static_cast<std::size_t>(c)] = DisplayText(v);
    }
    return cells;
  };

  std::int64_t count = 0;
  lastFirstCell_.reset();
  if (options_.trimTrailing) {
    // Rows stream straight out; the dashes match the names.
    for (std::size_t i = 0; i < header.size(); ++i) {
      widths[i] = std::max<std::size_t>(DisplayWidth(header[i]), 1);
    }
    if (options_.headers) {
      PrintLine(header, widths, rightAlign);
      PrintLine(dashesFor(widths), widths, rightAlign);
    }
    while (rows.Next()) {
      std::vector<std::string> cells = readRow();
      if (!cells.empty()) lastFirstCell_ = cells.front();
      PrintLine(cells, widths, rightAlign);
      ++count;
    }
    return count;
  }

  // Aligned output needs every row before the first line can be written.
  std::vector<std::vector<std::string>> body;
  std::vector<bool> seenText(header.size(), false);
  std::vector<bool> seenNumber(header.size(), false);
  for (std::size_t i = 0; i < header.size(); ++i) {
    widths[i] = std::max<std::size_t>(DisplayWidth(header[i]), 1);
  }
  while (rows.Next()) {
    std::vector<std::string> cells(header.size());
    for (int c = 0; c < columns; ++c) {
      const auto i = static_cast<std::size_t>(c);
      const db::Value& v = rows.Get(c);
      if (IsNumeric(v)) {
        seenNumber[i] = true;
      } else if (!v.IsNull()) {
        seenText[i] = true;
      }
      cells[i] = DisplayText(v);
      widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
    }
    body.push_back(std::move(cells));
    ++count;
  }
  if (!body.empty() && !body.back().empty()) lastFirstCell_ = body.back().front();
  // Numbers stand right-aligned, as sqlcmd shows numeric columns.
  for (std::size_t i = 0; i < header.size(); ++i) rightAlign[i] = seenNumber[i] && !seenText[i];
  if (options_.headers) {
    const std::vector<bool> left(header.size(), false);
    PrintLine(header, widths, left);
    PrintLine(dashesFor(widths), widths, left);
  }
  for (const auto& cells : body) PrintLine(cells, widths, rightAlign);
  return count;
}

void ResultPrinter::PrintRowsAffected(std::int64_t count) {
  out_ << "\n(" << count << " rows affected)\n";
}

}  // namespace pv::pvsql

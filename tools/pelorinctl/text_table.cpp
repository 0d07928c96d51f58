#include "tools/pelorinctl/text_table.h"

#include <algorithm>

#include "platform/utf16.h"

namespace pelorin::ctl {

void TextTable::print(std::ostream& out) const {
  std::vector<std::size_t> widths(header_.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], platform::utf16Length(row[i]));
    }
  };
  measure(header_);
  for (const auto& row : rows_) measure(row);
  auto printRow = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size())
        line += std::string(widths[i] - platform::utf16Length(row[i]) + 2, ' ');
    }
    out << line << "\n";
  };
  printRow(header_);
  for (const auto& row : rows_) printRow(row);
}

}  // namespace pelorin::ctl

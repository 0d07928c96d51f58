#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pelorin::ctl {

// Rows of text printed in aligned columns for people, under a header line.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
  void addRow(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void print(std::ostream& out) const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace pelorin::ctl

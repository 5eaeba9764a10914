// The syntax tree of a query, and the parser that builds it.
//
//   query   := SELECT '*' FROM table
//   table   := identifier | `quoted identifier`
// Keywords are matched without regard to case; names are case-sensitive.
#pragma once

#include <string>
#include <vector>

namespace installer {

struct SelectStatement {
  std::vector<std::string> tables;
};

// Returns false when `text` is not a query of the language.
bool ParseQuery(const std::string& text, SelectStatement* out);

}  // namespace installer

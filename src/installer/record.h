// A record: the fields of one row, or of a view's column information.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "table.h"

namespace installer {

struct Field {
  Cell::Kind kind = Cell::Kind::kNull;
  int32_t integer = 0;
  uint32_t string_id = 0;  // kPoolString, resolved through `Record::database`
  std::string text;        // kText
};

struct Record {
  std::vector<Field> fields;
  std::shared_ptr<const Database> database;  // for pool strings; may be null
};

}  // namespace installer

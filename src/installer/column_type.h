// Column types as the catalog stores them (_Columns.Type, sign flip undone):
//   0x00FF width: the maximum length of a string (0 = unlimited), 2 or 4
//          for an integer
//   0x0100 persistent   0x0200 localizable   0x1000 nullable   0x2000 key
//   0x0C00 kind: 0x0000 4-byte integer, 0x0400 2-byte integer,
//          0x0800 binary stream, 0x0C00 string
#pragma once

#include <cstdint>
#include <string>

namespace installer {

enum class ColumnKind { kInteger2, kInteger4, kBinary, kString };

struct ColumnType {
  uint16_t bits = 0;

  ColumnKind kind() const {
    switch (bits & 0x0C00) {
      case 0x0000: return ColumnKind::kInteger4;
      case 0x0400: return ColumnKind::kInteger2;
      case 0x0800: return ColumnKind::kBinary;
      default: return ColumnKind::kString;
    }
  }
  bool nullable() const { return (bits & 0x1000) != 0; }
  bool key() const { return (bits & 0x2000) != 0; }
  bool localizable() const { return (bits & 0x0200) != 0; }
  unsigned width() const { return bits & 0xFF; }
  bool is_integer() const { return kind() == ColumnKind::kInteger2 || kind() == ColumnKind::kInteger4; }

  // An integer's width must agree with its kind.
  bool valid() const {
    if (kind() == ColumnKind::kInteger2) return width() == 2;
    if (kind() == ColumnKind::kInteger4) return width() == 4;
    return true;
  }

  // Bytes per cell in a table stream.
  unsigned StoredWidth(unsigned string_id_width) const {
    switch (kind()) {
      case ColumnKind::kInteger4: return 4;
      case ColumnKind::kInteger2: return 2;
      case ColumnKind::kBinary: return 2;
      case ColumnKind::kString: return string_id_width;
    }
    return 2;
  }

  // The type text: a letter (s string, l localizable string, i integer,
  // v binary), upper case when nullable, then the width: "s72", "L0", "I4".
  std::string Text() const {
    char letter = kind() == ColumnKind::kBinary ? 'v'
                  : is_integer()                ? 'i'
                  : localizable()               ? 'l'
                                                : 's';
    if (nullable()) letter = char(letter - 'a' + 'A');
    return letter + std::to_string(width());
  }
};

}  // namespace installer

#include "table.h"

#include "byte_order.h"
#include "stream_name.h"

namespace installer {
namespace {

class StoredTable : public TableData {
 public:
  StoredTable(std::vector<uint8_t> bytes, uint32_t rows, std::vector<ColumnKind> kinds,
              std::vector<unsigned> widths)
      : bytes_(std::move(bytes)), rows_(rows), kinds_(std::move(kinds)), widths_(std::move(widths)) {
    uint64_t offset = 0;
    for (unsigned w : widths_) {
      column_offsets_.push_back(offset);
      offset += uint64_t(w) * rows_;
    }
  }

  uint32_t row_count() const override { return rows_; }

  Cell At(uint32_t row, uint32_t column) const override {
    const unsigned width = widths_[column];
    const uint8_t* p = bytes_.data() + column_offsets_[column] + uint64_t(row) * width;
    Cell cell;
    switch (kinds_[column]) {
      case ColumnKind::kString: {
        uint32_t id = width == 3 ? LoadU24(p) : LoadU16(p);
        if (id != 0) {
          cell.kind = Cell::Kind::kPoolString;
          cell.string_id = id;
        }
        break;
      }
      case ColumnKind::kInteger2: {
        uint16_t raw = LoadU16(p);
        if (raw != 0) {
          cell.kind = Cell::Kind::kInteger;
          cell.integer = int32_t(raw) - 0x8000;
        }
        break;
      }
      case ColumnKind::kInteger4: {
        uint32_t raw = LoadU32(p);
        if (raw != 0) {
          cell.kind = Cell::Kind::kInteger;
          cell.integer = int32_t(raw ^ 0x80000000u);
        }
        break;
      }
      case ColumnKind::kBinary:
        if (LoadU16(p) != 0) cell.kind = Cell::Kind::kStream;
        break;
    }
    return cell;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t rows_;
  std::vector<ColumnKind> kinds_;
  std::vector<unsigned> widths_;
  std::vector<uint64_t> column_offsets_;
};

class NameTable : public TableData {
 public:
  explicit NameTable(std::vector<std::string> names) : names_(std::move(names)) {}
  uint32_t row_count() const override { return uint32_t(names_.size()); }
  Cell At(uint32_t row, uint32_t column) const override {
    Cell cell;
    if (column == 0) {
      cell.kind = Cell::Kind::kText;
      cell.text = names_[row];
    } else {
      cell.kind = Cell::Kind::kStream;
    }
    return cell;
  }

 private:
  std::vector<std::string> names_;
};

}  // namespace

Outcome LoadStoredTable(const CompoundFile& file, const StringPool& pool, const TableSchema& schema,
                        std::shared_ptr<const TableData>* out) {
  std::vector<ColumnKind> kinds;
  std::vector<unsigned> widths;
  uint64_t row_width = 0;
  for (const Column& column : schema.columns) {
    kinds.push_back(column.type.kind());
    widths.push_back(column.type.StoredWidth(pool.id_width()));
    row_width += widths.back();
  }
  std::vector<uint8_t> bytes;
  if (const CompoundFile::Entry* entry = file.FindChild(EncodeStreamName(schema.name, true))) {
    INSTALLER_TRY(file.ReadStream(*entry, &bytes));
  }
  if (row_width == 0) {
    if (!bytes.empty()) return INSTALLER_DAMAGED("table stream for a table without columns");
  } else if (bytes.size() % row_width != 0) {
    return INSTALLER_DAMAGED("table stream size is not a whole number of rows");
  }
  const uint64_t rows = row_width == 0 ? 0 : bytes.size() / row_width;
  if (rows > UINT32_MAX) return INSTALLER_DAMAGED("too many rows");

  // Check every string id once here, so that reading a cell never fails.
  uint64_t offset = 0;
  for (size_t c = 0; c < kinds.size(); ++c) {
    if (kinds[c] == ColumnKind::kString) {
      const uint8_t* p = bytes.data() + offset;
      for (uint64_t r = 0; r < rows; ++r, p += widths[c]) {
        uint32_t id = widths[c] == 3 ? LoadU24(p) : LoadU16(p);
        if (id >= pool.id_limit()) return INSTALLER_DAMAGED("string id outside the string pool");
      }
    }
    offset += widths[c] * rows;
  }
  *out = std::make_shared<StoredTable>(std::move(bytes), uint32_t(rows), std::move(kinds),
                                       std::move(widths));
  return Outcome();
}

std::shared_ptr<const TableData> MakeNameTable(std::vector<std::string> names) {
  return std::make_shared<NameTable>(std::move(names));
}

}  // namespace installer

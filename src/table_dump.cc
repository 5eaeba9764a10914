#include "table_dump.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "installer.h"

namespace msitable {
namespace {

using installer::Handle;
using installer::Status;

constexpr int kCompleted = 0;
constexpr int kFailed = 1;

// How a column's fields are written, from the first letter of its type.
enum ColumnCode : uint16_t {
  kNone = 0,
  kInteger = 'i',
  kString = 's',
  kBinary = 'v',
};

ColumnCode CodeForType(const std::string& type_text) {
  switch (std::tolower(static_cast<unsigned char>(type_text.empty() ? '\0' : type_text[0]))) {
    case 'i': return kInteger;
    case 's':
    case 'l': return kString;
    case 'v': return kBinary;
    default: return kNone;
  }
}

// Releases a handle when it goes out of scope.
class HandleGuard {
 public:
  HandleGuard() = default;
  ~HandleGuard() { Reset(); }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

  Handle* out() {
    Reset();
    return &handle_;
  }
  Handle get() const { return handle_; }
  void Reset() {
    if (handle_ != installer::kNoHandle) installer::ReleaseHandle(handle_);
    handle_ = installer::kNoHandle;
  }

 private:
  Handle handle_ = installer::kNoHandle;
};

class TableDump {
 public:
  explicit TableDump(Output& out) : out_(out) {}

  int Run(const char* database_path, const char* table) {
    HandleGuard database, view;
    if (installer::OpenDatabase(database_path, database.out()) != installer::kSuccess)
      return FailureLine("error in opening the MSI database");
    const std::string query = std::string("SELECT * from ") + table;
    if (installer::OpenView(database.get(), query.c_str(), view.out()) != installer::kSuccess)
      return FailureLine("error in Opening View");
    if (installer::ExecuteView(view.get()) != installer::kSuccess)
      return FailureLine("error in executing the View");
    if (!WriteHeader(view.get())) return kFailed;
    if (!WriteRows(view.get())) return kFailed;
    installer::CloseView(view.get());
    return out_.ok() ? kCompleted : kFailed;
  }

 private:
  // "<message>\t<last error>", with the last error read before anything is
  // written. Returns the failure exit status.
  int FailureLine(const char* message) {
    const uint32_t error = installer::LastError();
    if (out_.mid_line()) out_.EndLine();
    out_.Write(message);
    out_.Write("\t");
    out_.Write(std::to_string(error));
    out_.EndLine();
    return kFailed;
  }

  // Reads a whole string field into text_, however long it is.
  bool ReadText(Handle record, uint32_t field) {
    uint32_t capacity = uint32_t(text_.size());
    Status status = installer::ReadString(record, field, text_.data(), &capacity);
    if (status == installer::kErrorMoreData) {
      text_.resize(size_t(capacity) + 1);
      capacity = uint32_t(text_.size());
      status = installer::ReadString(record, field, text_.data(), &capacity);
    }
    if (status != installer::kSuccess) return false;
    text_length_ = capacity;
    return true;
  }
  std::string_view Text() const { return std::string_view(text_.data(), text_length_); }

  bool WriteHeader(Handle view) {
    HandleGuard names;
    if (installer::GetColumnInfo(view, installer::ColumnInfoKind::kNames, names.out()) !=
        installer::kSuccess) {
      FailureLine("error in reading the record");
      return false;
    }
    const uint32_t count = installer::FieldCount(names.get());
    codes_.assign(count, kNone);
    out_.Write("The column Headers follow");
    out_.EndLine();
    for (uint32_t i = 0; i < count; ++i) {
      if (!ReadText(names.get(), i + 1)) {
        FailureLine("error in reading the record");
        return false;
      }
      out_.Write(Text());
      out_.Write(" ");
    }
    out_.EndLine();
    names.Reset();

    HandleGuard types;
    if (installer::GetColumnInfo(view, installer::ColumnInfoKind::kTypes, types.out()) !=
        installer::kSuccess) {
      FailureLine("error in reading the record");
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (!ReadText(types.get(), i + 1)) {
        FailureLine("error in reading the record");
        return false;
      }
      codes_[i] = CodeForType(std::string(Text()));
    }
    types.Reset();
    out_.EndLine();
    return out_.ok();
  }

  bool WriteRows(Handle view) {
    HandleGuard row;
    for (;;) {
      Status status = installer::FetchRow(view, row.out());
      if (status == installer::kErrorNoMoreItems) return true;
      if (status != installer::kSuccess) {
        FailureLine("error in fetching the record");
        return false;
      }
      for (uint32_t i = 0; i < codes_.size(); ++i) {
        switch (codes_[i]) {
          case kInteger: {
            int32_t value = installer::ReadInteger(row.get(), i + 1);
            if (value != installer::kNullInteger) {
              char digits[16];
              auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
              out_.Write(std::string_view(digits, size_t(end - digits)));
            }
            out_.Write(" ");
            break;
          }
          case kString:
            if (!ReadText(row.get(), i + 1)) {
              FailureLine("error in reading the record");
              return false;
            }
            out_.Write(Text());
            out_.Write(" ");
            break;
          case kBinary:
            out_.Write("binary  ");
            break;
          case kNone:
            break;
        }
      }
      out_.EndLine();
      if (!out_.ok()) return false;
      row.Reset();
    }
  }

  Output& out_;
  std::vector<ColumnCode> codes_;
  std::vector<char> text_ = std::vector<char>(4096);
  uint32_t text_length_ = 0;
};

}  // namespace

int DumpTable(const char* database_path, const char* table, Output& out) {
  return TableDump(out).Run(database_path, table);
}

}  // namespace msitable

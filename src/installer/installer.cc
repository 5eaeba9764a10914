// The public functions: a table of handles over databases, views and
// records, and the translation of outcomes into statuses and last errors.
#include "installer.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "database.h"
#include "handle_table.h"
#include "record.h"
#include "view.h"

namespace installer {
namespace {

thread_local uint32_t last_error = 0;
thread_local std::string last_error_detail;

Status Fail(Status status, uint32_t error, std::string detail) {
  last_error = error;
  last_error_detail = std::move(detail);
  return status;
}

Status Fail(Status status, uint32_t error, const Outcome& outcome) {
  return Fail(status, error, std::string(outcome.reason()) + " (check at line " + std::to_string(outcome.line()) + ")");
}

// Never destroyed, since handles may outlive main; a plain pointer so that
// the per-row calls pay for no initialisation guard.
HandleTable* const handle_table = new HandleTable();
HandleTable& Handles() { return *handle_table; }

Status InvalidHandle() { return Fail(kErrorInvalidHandle, kErrorInvalidHandle, "invalid handle"); }

Status AddHandle(HandleTable::Object object, Handle* out) {
  Handle handle = Handles().Add(std::move(object));
  if (handle == kNoHandle) return Fail(kErrorFunctionFailed, kErrorFunctionFailed, "too many open handles");
  *out = handle;
  return kSuccess;
}

const Field* FieldAt(const Record& record, uint32_t field) {
  if (field == 0 || field > record.fields.size()) return nullptr;
  return &record.fields[field - 1];
}

}  // namespace

Status OpenDatabase(const char* path, Handle* database) {
  if (!path || !database) return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "null argument");
  std::unique_ptr<Database> db;
  Outcome outcome = Database::Open(path, &db);
  if (!outcome.ok()) {
    uint32_t error = outcome.errno_value() ? uint32_t(outcome.errno_value()) : kErrorBadDatabase;
    return Fail(kErrorBadDatabase, error, outcome);
  }
  return AddHandle(std::shared_ptr<const Database>(std::move(db)), database);
}

Status OpenView(Handle database, const char* query, Handle* view) {
  if (!query || !view) return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "null argument");
  auto db = Handles().GetShared<const Database>(database);
  if (!db) return InvalidHandle();
  std::unique_ptr<View> prepared;
  switch (View::Prepare(db, query, &prepared)) {
    case View::PrepareError::kNone: break;
    case View::PrepareError::kSyntax: return Fail(kErrorBadQuery, kErrorBadQuery, "query syntax error");
    case View::PrepareError::kUnknownName:
      return Fail(kErrorBadQuery, kErrorBadQuery, "the query names an unknown table or column");
    case View::PrepareError::kAmbiguousName:
      return Fail(kErrorBadQuery, kErrorBadQuery, "the query names a column or table ambiguously");
    case View::PrepareError::kTypeMismatch:
      return Fail(kErrorBadQuery, kErrorBadQuery, "the query compares or orders a column its type does not allow");
    case View::PrepareError::kTooManyTables:
      return Fail(kErrorBadQuery, kErrorBadQuery, "the query names too many tables");
  }
  return AddHandle(std::shared_ptr<View>(std::move(prepared)), view);
}

Status ExecuteView(Handle view) {
  auto v = Handles().Get<View>(view);
  if (!v) return InvalidHandle();
  Outcome outcome = v->Execute();
  if (!outcome.ok()) return Fail(kErrorFunctionFailed, kErrorFunctionFailed, outcome);
  return kSuccess;
}

Status GetColumnInfo(Handle view, ColumnInfoKind kind, Handle* record) {
  if (!record) return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "null argument");
  if (kind != ColumnInfoKind::kNames && kind != ColumnInfoKind::kTypes)
    return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "unknown column information kind");
  auto v = Handles().Get<View>(view);
  if (!v) return InvalidHandle();
  auto info = std::make_shared<Record>();
  for (const Column& column : v->columns()) {
    Field field;
    field.kind = Cell::Kind::kText;
    field.text = kind == ColumnInfoKind::kNames ? column.name : column.type.Text();
    info->fields.push_back(std::move(field));
  }
  return AddHandle(std::move(info), record);
}

uint32_t FieldCount(Handle record) {
  auto r = Handles().Get<Record>(record);
  if (!r) {
    InvalidHandle();
    return 0;
  }
  return uint32_t(r->fields.size());
}

Status ReadString(Handle record, uint32_t field, char* buffer, uint32_t* capacity) {
  if (!capacity) return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "null capacity");
  auto r = Handles().Get<Record>(record);
  if (!r) return InvalidHandle();
  const Field* f = FieldAt(*r, field);
  if (!f) return Fail(kErrorFunctionFailed, kErrorFunctionFailed, "field number out of range");

  thread_local std::string scratch;  // converted text, reused across reads
  std::string_view text;
  char digits[16];
  switch (f->kind) {
    case Cell::Kind::kNull: break;
    case Cell::Kind::kInteger: {
      auto end = std::to_chars(digits, digits + sizeof digits, f->integer).ptr;
      text = std::string_view(digits, size_t(end - digits));
      break;
    }
    case Cell::Kind::kPoolString:
      text = r->database->pool().Text(f->string_id, &scratch);
      break;
    case Cell::Kind::kText: text = f->text; break;
    case Cell::Kind::kStream:
      return Fail(kErrorFunctionFailed, kErrorFunctionFailed, "a stream field has no text");
  }
  if (text.size() >= UINT32_MAX) return Fail(kErrorFunctionFailed, kErrorFunctionFailed, "text too long");
  const uint32_t room = buffer ? *capacity : 0;
  const uint32_t length = uint32_t(text.size());
  *capacity = length;
  if (length < room) {
    // A null field's view has no data pointer: copy nothing from it.
    if (length > 0) std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return kSuccess;
  }
  if (room > 0) {
    std::memcpy(buffer, text.data(), room - 1);
    buffer[room - 1] = '\0';
  }
  return kErrorMoreData;
}

int32_t ReadInteger(Handle record, uint32_t field) {
  auto r = Handles().Get<Record>(record);
  if (!r) {
    InvalidHandle();
    return kNullInteger;
  }
  const Field* f = FieldAt(*r, field);
  if (!f) {
    Fail(kErrorFunctionFailed, kErrorFunctionFailed, "field number out of range");
    return kNullInteger;
  }
  return f->kind == Cell::Kind::kInteger ? f->integer : kNullInteger;
}

Status FetchRow(Handle view, Handle* record) {
  if (!record) return Fail(kErrorInvalidParameter, kErrorInvalidParameter, "null argument");
  auto v = Handles().Get<View>(view);
  if (!v) return InvalidHandle();
  if (!v->executed()) return Fail(kErrorFunctionFailed, kErrorFunctionFailed, "the view is not executed");
  thread_local std::vector<Cell> cells;
  if (!v->Fetch(&cells)) return kErrorNoMoreItems;
  std::shared_ptr<Record> row = Handles().NewRecord();
  row->fields.resize(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    Field& f = row->fields[i];
    f.kind = cells[i].kind;
    f.integer = cells[i].integer;
    f.string_id = cells[i].string_id;
    if (f.kind == Cell::Kind::kText) f.text.assign(cells[i].text);
  }
  row->database = v->shared_database();
  return AddHandle(std::move(row), record);
}

Status CloseView(Handle view) {
  auto v = Handles().Get<View>(view);
  if (!v) return InvalidHandle();
  v->Close();
  return kSuccess;
}

Status ReleaseHandle(Handle handle) {
  if (!Handles().Remove(handle)) return InvalidHandle();
  return kSuccess;
}

uint32_t LastError() { return last_error; }

const char* LastErrorDetail() { return last_error_detail.c_str(); }

}  // namespace installer

// The installer database library: a read-only, handle-based interface to
// Windows Installer databases (.msi, .msm), read directly from the file.
//
// Conventions, for every function below:
// - Objects (databases, views, records) are named by opaque 32-bit handles.
//   0 is never a valid handle. Every handle is released with ReleaseHandle.
// - Functions that can fail return a Status: kSuccess (0) or a failure code.
//   A failing function also sets the calling thread's last-error value
//   (LastError), read right after the call:
//     * the errno value for operating-system failures (ENOENT, EACCES, EISDIR);
//     * kErrorBadDatabase (1620) for a file that is not a usable database;
//     * kErrorBadQuery (1615) for a query that cannot be parsed or names no
//       table or column of the database;
//     * kErrorFunctionFailed (1627) for a damaged table, a failed field read,
//       or a query whose tables combine into too many rows to try.
// - Text is UTF-8 on the way in and out; the database's code page is
//   converted when strings are read.
// - Nothing here throws.
#pragma once

#include <cstdint>

namespace installer {

using Handle = uint32_t;
using Status = uint32_t;

constexpr Handle kNoHandle = 0;

constexpr Status kSuccess = 0;
constexpr Status kErrorInvalidHandle = 6;
constexpr Status kErrorInvalidParameter = 87;
constexpr Status kErrorMoreData = 234;
constexpr Status kErrorNoMoreItems = 259;
constexpr Status kErrorBadQuery = 1615;
constexpr Status kErrorBadDatabase = 1620;
constexpr Status kErrorFunctionFailed = 1627;

// ReadInteger's value for a field that holds no value (or no integer). It
// cannot be stored in a database, so it never stands for a real value.
constexpr int32_t kNullInteger = INT32_MIN;

enum class ColumnInfoKind { kNames = 0, kTypes = 1 };

// Opens the database file at `path` for reading only.
Status OpenDatabase(const char* path, Handle* database);

// Prepares a query on an open database. See query_parser.h for the language.
Status OpenView(Handle database, const char* query, Handle* view);

// Runs a prepared view; the rows are then fetched in order.
Status ExecuteView(Handle view);

// A record with one field per column of the view, holding each column's
// name (kNames) or type text such as "s72", "I4", "L0", "v0" (kTypes).
Status GetColumnInfo(Handle view, ColumnInfoKind kind, Handle* record);

// The number of fields of a record (0 for an invalid handle).
uint32_t FieldCount(Handle record);

// Copies field `field` (1-based) of `record` as text into `buffer`, with its
// terminating zero. `*capacity` is the buffer size in bytes on entry. On
// success it is set to the text's length (terminator excluded). When the text
// does not fit, as much as fits is copied (terminated), kErrorMoreData is
// returned and `*capacity` is set to the length the text needs (terminator
// excluded), so the caller can retry with `*capacity + 1` bytes. A null field
// reads as the empty string; an integer field as its decimal text.
Status ReadString(Handle record, uint32_t field, char* buffer, uint32_t* capacity);

// Field `field` of `record` as an integer; kNullInteger when it is null or
// not an integer.
int32_t ReadInteger(Handle record, uint32_t field);

// Hands out the next row of an executed view as a new record.
// kErrorNoMoreItems when no row is left.
Status FetchRow(Handle view, Handle* record);

// Ends the execution of a view; it may be executed again.
Status CloseView(Handle view);

// Releases any handle. Releasing a database keeps it alive until its views
// and records are released too.
Status ReleaseHandle(Handle handle);

// The calling thread's last-error value (see the conventions above).
uint32_t LastError();

// A short description of the calling thread's last failure, for diagnostics.
const char* LastErrorDetail();

}  // namespace installer

// The table dump: prints the header block and every row of one table.
#pragma once

#include "console.h"

namespace msitable {

// Opens the database read-only, runs "SELECT * from " + `table`, and writes:
//   The column Headers follow
//   <each column name followed by a space>
//   <empty line>
//   <one line per row: each field followed by a space; a binary field as
//    "binary  ">
// A failure writes one line, "<message>\t<last error number>", and ends the
// dump. Returns the exit status: 0 when every row was written, 1 otherwise.
int DumpTable(const char* database_path, const char* table, Output& out);

}  // namespace msitable

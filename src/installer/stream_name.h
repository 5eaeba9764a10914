// Stream names as stored in the root storage.
//
// Names are compressed to fit the 31-unit limit of a directory entry: the 64
// characters 0-9 A-Z a-z . _ take values 0..63; two of them in a row become one
// unit 0x3800 + v1 + (v2 << 6), a lone one 0x4800 + v, and any other
// character is stored as itself. Table streams start with the unit 0x4840.
// Encoding is greedy from the left, so a name has exactly one stored form and
// streams are found by encoding the wanted name.
#pragma once

#include <string>

namespace installer {

// `name` is UTF-8.
std::u16string EncodeStreamName(const std::string& name, bool table_stream);

struct DecodedStreamName {
  std::string name;  // UTF-8
  bool table_stream = false;
};
DecodedStreamName DecodeStreamName(const std::u16string& stored);

}  // namespace installer

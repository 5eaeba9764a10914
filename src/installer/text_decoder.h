// Conversion of database text from its code page to UTF-8.
//
// Supported: 0 (neutral: ASCII, other bytes read as Windows-1252), 65001
// (UTF-8), and the Windows code pages 874, 932, 936, 949, 950 and 1250-1258,
// as glibc's iconv tables define them. A byte that starts no valid character
// becomes U+FFFD and conversion resumes at the next byte.
//
// Single-byte code pages are converted through a 256-entry table built once
// (one code page character to one character: no composition of combining
// marks); double-byte ones and UTF-8 through iconv.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "outcome.h"

namespace installer {

class TextDecoder {
 public:
  static bool Supported(uint32_t code_page);
  // Fails (as damage) for an unsupported code page.
  static Outcome Create(uint32_t code_page, std::unique_ptr<TextDecoder>* out);
  ~TextDecoder();

  // Appends the UTF-8 form of `raw` to `out`.
  void Decode(std::string_view raw, std::string* out) const;

  // True when `raw` decodes to itself (plain ASCII), so it needs no copy.
  static bool IsPlainAscii(std::string_view raw);

 private:
  TextDecoder() = default;
  void DecodeWithIconv(std::string_view raw, std::string* out) const;

  bool single_byte_ = false;
  std::string table_[256];  // single-byte code pages
  void* iconv_ = nullptr;   // iconv_t for the others
  mutable std::mutex iconv_mutex_;
};

}  // namespace installer

// The string pool: every string of every table, stored once.
//
// "_StringPool": a u32 header (low 31 bits: the code page; bit 31: string ids
// take 3 bytes in table streams instead of 2), then one entry per string id
// from 1: u16 length, u16 reference count. (0, 0) is an unused id (read as
// empty). (0, r) with r != 0 announces a string of 64 KiB or more: the next
// entry holds the low and high halves of its length, and the two entries
// together make one id (the ids after it count on from there).
// "_StringData": the texts of all ids concatenated in id order.
// Id 0 is the null string; empty and null are the same value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outcome.h"
#include "text_decoder.h"

namespace installer {

class StringPool {
 public:
  static Outcome Load(const std::vector<uint8_t>& pool, std::vector<uint8_t> data,
                      std::unique_ptr<StringPool>* out);

  uint32_t code_page() const { return code_page_; }
  // Bytes per string id in table streams: 2, or 3 for large pools.
  unsigned id_width() const { return long_ids_ ? 3 : 2; }
  // Ids below this are valid (0 being null).
  uint32_t id_limit() const { return uint32_t(starts_.size() - 1); }

  // The stored bytes of a string, in the database code page.
  std::string_view Raw(uint32_t id) const;

  // The text as UTF-8. Returns a view of the stored bytes when they need no
  // conversion, else converts into `scratch` and returns a view of it.
  std::string_view Text(uint32_t id, std::string* scratch) const;

 private:
  StringPool() = default;

  uint32_t code_page_ = 0;
  bool long_ids_ = false;
  std::vector<uint8_t> data_;
  std::vector<uint64_t> starts_;  // text of id i: [starts_[i], starts_[i + 1])
  std::unique_ptr<TextDecoder> decoder_;
};

}  // namespace installer

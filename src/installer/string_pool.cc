#include "string_pool.h"

#include "byte_order.h"

namespace installer {

Outcome StringPool::Load(const std::vector<uint8_t>& pool, std::vector<uint8_t> data,
                         std::unique_ptr<StringPool>* out) {
  if (pool.size() % 4 != 0) return INSTALLER_DAMAGED("string pool size is not a multiple of 4");
  std::unique_ptr<StringPool> sp(new StringPool());
  if (!pool.empty()) {
    uint32_t header = LoadU32(pool.data());
    sp->code_page_ = header & 0x7FFFFFFF;
    sp->long_ids_ = (header & 0x80000000u) != 0;
  }
  INSTALLER_TRY(TextDecoder::Create(sp->code_page_, &sp->decoder_));

  // Ids count entries, except that a long string's two entries make one id.
  const size_t entries = pool.empty() ? 0 : pool.size() / 4 - 1;
  sp->starts_.reserve(entries + 2);
  sp->starts_.push_back(0);  // id 0: null
  uint64_t offset = 0;
  for (size_t i = 1; i <= entries; ++i) {
    const uint8_t* entry = pool.data() + 4 * i;
    uint64_t length = LoadU16(entry);
    if (length == 0 && LoadU16(entry + 2) != 0) {
      if (i == entries) return INSTALLER_DAMAGED("long string entry without its length entry");
      length = LoadU16(entry + 4) | (uint64_t(LoadU16(entry + 6)) << 16);
      ++i;
    }
    sp->starts_.push_back(offset);
    offset += length;
    if (offset > data.size()) return INSTALLER_DAMAGED("string pool lengths exceed the string data");
  }
  sp->starts_.push_back(offset);
  sp->data_ = std::move(data);
  *out = std::move(sp);
  return Outcome();
}

std::string_view StringPool::Raw(uint32_t id) const {
  if (id == 0 || id >= id_limit()) return {};
  return std::string_view(reinterpret_cast<const char*>(data_.data()) + starts_[id],
                          size_t(starts_[id + 1] - starts_[id]));
}

std::string_view StringPool::Text(uint32_t id, std::string* scratch) const {
  std::string_view raw = Raw(id);
  if (TextDecoder::IsPlainAscii(raw)) return raw;
  scratch->clear();
  decoder_->Decode(raw, scratch);
  return *scratch;
}

}  // namespace installer

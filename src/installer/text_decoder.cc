#include "text_decoder.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>

namespace installer {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

const char* IconvName(uint32_t code_page) {
  switch (code_page) {
    case 0: return "CP1252";
    case 65001: return "UTF-8";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    default: return nullptr;
  }
}

bool IsSingleByte(uint32_t code_page) {
  return code_page == 0 || code_page == 874 || (code_page >= 1250 && code_page <= 1258);
}

iconv_t AsIconv(void* p) { return static_cast<iconv_t>(p); }

}  // namespace

bool TextDecoder::Supported(uint32_t code_page) { return IconvName(code_page) != nullptr; }

Outcome TextDecoder::Create(uint32_t code_page, std::unique_ptr<TextDecoder>* out) {
  const char* name = IconvName(code_page);
  if (!name) return INSTALLER_DAMAGED("unsupported code page");
  iconv_t cd = iconv_open("UTF-8", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return INSTALLER_DAMAGED("code page not available in iconv");
  std::unique_ptr<TextDecoder> decoder(new TextDecoder());
  decoder->iconv_ = cd;
  if (IsSingleByte(code_page)) {
    for (int b = 0; b < 256; ++b) {
      char in = char(b);
      decoder->table_[b].clear();
      // Convert and flush one byte at a time, so that converters that merge a
      // letter with a following combining mark cannot do so.
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      decoder->DecodeWithIconv(std::string_view(&in, 1), &decoder->table_[b]);
    }
    decoder->single_byte_ = true;
  }
  *out = std::move(decoder);
  return Outcome();
}

TextDecoder::~TextDecoder() {
  if (iconv_) iconv_close(AsIconv(iconv_));
}

bool TextDecoder::IsPlainAscii(std::string_view raw) {
  // Eight bytes at a time: any high bit means a byte that needs converting.
  const char* p = raw.data();
  size_t left = raw.size();
  uint64_t high = 0;
  for (; left >= 8; p += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    high |= word;
  }
  for (; left > 0; ++p, --left) high |= uint64_t(static_cast<unsigned char>(*p));
  return (high & 0x8080808080808080ull) == 0;
}

void TextDecoder::Decode(std::string_view raw, std::string* out) const {
  if (single_byte_) {
    for (unsigned char c : raw) {
      if (c < 0x80)
        out->push_back(char(c));
      else
        out->append(table_[c]);
    }
    return;
  }
  std::lock_guard<std::mutex> lock(iconv_mutex_);
  DecodeWithIconv(raw, out);
}

void TextDecoder::DecodeWithIconv(std::string_view raw, std::string* out) const {
  iconv_t cd = AsIconv(iconv_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(raw.data());
  size_t in_left = raw.size();
  char buffer[1024];
  for (;;) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    size_t rc = in_left > 0 ? iconv(cd, &in, &in_left, &dst, &dst_left)
                            : iconv(cd, nullptr, nullptr, &dst, &dst_left);
    int err = errno;
    out->append(buffer, size_t(dst - buffer));
    if (rc != size_t(-1)) {
      if (in_left == 0) {
        // Flush whatever the converter still holds, then stop.
        dst = buffer;
        dst_left = sizeof buffer;
        iconv(cd, nullptr, nullptr, &dst, &dst_left);
        out->append(buffer, size_t(dst - buffer));
        return;
      }
      continue;
    }
    if (err == E2BIG) continue;
    // EILSEQ or EINVAL: the byte at `in` starts no valid character.
    out->append(kReplacement);
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (in_left == 0) return;
  }
}

}  // namespace installer

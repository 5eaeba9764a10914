#include "stream_name.h"

namespace installer {
namespace {

constexpr char16_t kTablePrefix = 0x4840;

int CharValue(char32_t c) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (c >= 'A' && c <= 'Z') return int(c - 'A') + 10;
  if (c >= 'a' && c <= 'z') return int(c - 'a') + 36;
  if (c == '.') return 62;
  if (c == '_') return 63;
  return -1;
}

char ValueChar(unsigned v) {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
  return kChars[v & 63];
}

// UTF-8 to code points; a byte that starts no valid sequence stands for itself.
std::u32string Utf8ToCodePoints(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    bool valid = n != 0 && i + n <= s.size();
    for (size_t k = 1; valid && k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (!valid) {
      out.push_back(c);
      ++i;
    } else {
      out.push_back(cp);
      i += n;
    }
  }
  return out;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(char(cp));
  } else if (cp < 0x800) {
    out->push_back(char(0xC0 | (cp >> 6)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(char(0xE0 | (cp >> 12)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (cp >> 18)));
    out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::u16string EncodeStreamName(const std::string& name, bool table_stream) {
  std::u32string cps = Utf8ToCodePoints(name);
  std::u16string out;
  if (table_stream) out.push_back(kTablePrefix);
  for (size_t i = 0; i < cps.size(); ++i) {
    int v1 = CharValue(cps[i]);
    if (v1 < 0) {
      char32_t cp = cps[i];
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(char16_t(0xD800 + (cp >> 10)));
        out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(char16_t(cp));
      }
      continue;
    }
    int v2 = i + 1 < cps.size() ? CharValue(cps[i + 1]) : -1;
    if (v2 >= 0) {
      out.push_back(char16_t(0x3800 + v1 + (v2 << 6)));
      ++i;
    } else {
      out.push_back(char16_t(0x4800 + v1));
    }
  }
  return out;
}

DecodedStreamName DecodeStreamName(const std::u16string& stored) {
  DecodedStreamName result;
  size_t i = 0;
  if (!stored.empty() && stored[0] == kTablePrefix) {
    result.table_stream = true;
    i = 1;
  }
  for (; i < stored.size(); ++i) {
    char16_t u = stored[i];
    if (u >= 0x3800 && u < 0x4800) {
      result.name.push_back(ValueChar(unsigned(u - 0x3800)));
      result.name.push_back(ValueChar(unsigned(u - 0x3800) >> 6));
    } else if (u >= 0x4800 && u < 0x4840) {
      result.name.push_back(ValueChar(unsigned(u - 0x4800)));
    } else if (u >= 0xD800 && u < 0xDC00 && i + 1 < stored.size() && stored[i + 1] >= 0xDC00 &&
               stored[i + 1] < 0xE000) {
      AppendUtf8(0x10000 + ((char32_t(u) - 0xD800) << 10) + (stored[i + 1] - 0xDC00), &result.name);
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      AppendUtf8(0xFFFD, &result.name);  // a lone surrogate
    } else {
      AppendUtf8(u, &result.name);
    }
  }
  return result;
}

}  // namespace installer

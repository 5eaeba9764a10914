// The string pool read from hand-made bytes, independent of the writer.
#include <gtest/gtest.h>

#include "string_pool.h"

namespace {

using installer::StringPool;

void PutU16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> Pool(uint32_t header, const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  std::vector<uint8_t> out;
  PutU16(&out, header & 0xFFFF);
  PutU16(&out, header >> 16);
  for (const auto& e : entries) {
    PutU16(&out, e.first);
    PutU16(&out, e.second);
  }
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(StringPoolBytesTest, IdsCountOnAfterALongString) {
  const std::string big(70000, 'b');
  // abc; a long string (two entries, one id); unused; xy.
  auto pool = Pool(1252 | 0x80000000u, {{3, 1}, {0, 1}, {70000 & 0xFFFF, 70000 >> 16}, {0, 0}, {2, 4}});
  std::unique_ptr<StringPool> sp;
  ASSERT_TRUE(StringPool::Load(pool, Bytes("abc" + big + "xy"), &sp).ok());
  EXPECT_EQ(sp->code_page(), 1252u);
  EXPECT_EQ(sp->id_width(), 3u);
  EXPECT_EQ(sp->id_limit(), 5u);  // ids 1..4
  EXPECT_EQ(sp->Raw(1), "abc");
  EXPECT_EQ(sp->Raw(2), big);
  EXPECT_EQ(sp->Raw(3), "");
  EXPECT_EQ(sp->Raw(4), "xy");
  EXPECT_EQ(sp->Raw(5), "");
}

TEST(StringPoolBytesTest, DamagedPools) {
  struct Case {
    const char* name;
    std::vector<uint8_t> pool;
    std::string data;
  } cases[] = {
      {"size not a multiple of 4", {0xE4, 0x04, 0, 0, 1}, ""},
      {"lengths beyond the data", Pool(1252, {{3, 1}, {4, 1}}), "abcdef"},
      {"long string without its length entry", Pool(1252, {{3, 1}, {0, 1}}), "abc"},
      {"long string beyond the data", Pool(1252, {{0, 1}, {0, 1}}), std::string(65535, 'x')},
      {"unknown code page", Pool(1234, {{1, 1}}), "a"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<StringPool> sp;
    EXPECT_FALSE(StringPool::Load(c.pool, Bytes(c.data), &sp).ok()) << c.name;
  }
}

}  // namespace

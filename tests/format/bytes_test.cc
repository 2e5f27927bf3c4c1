// The byte-order helpers against hand-written byte strings: each reads the
// bytes in its order, writes exactly the bytes it names and nothing beside them.
#include "format/bytes.h"

#include <gtest/gtest.h>

#include <vector>

namespace virazav::format {
namespace {

// A buffer with guard bytes around the field, so that a write past either end shows.
constexpr uint8_t kGuard = 0xA5;
std::vector<uint8_t> guarded(size_t n) {
  return std::vector<uint8_t>(n + 2, kGuard);
}

TEST(Bytes, LittleEndianLoads_ReadTheLowByteFirst) {
  const uint8_t b[] = {0x01, 0x82, 0x03, 0xF4};
  EXPECT_EQ(load_le16(b), 0x8201u);
  EXPECT_EQ(load_le16(b + 2), 0xF403u);
  EXPECT_EQ(load_le32(b), 0xF4038201u);
  const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(load_le16(ones), 0xFFFFu);
  EXPECT_EQ(load_le32(ones), 0xFFFFFFFFu);
}

TEST(Bytes, BigEndianLoad_ReadsTheHighByteFirst) {
  const uint8_t b[] = {0x9A, 0x01, 0xFE};
  EXPECT_EQ(load_be24(b), 0x9A01FEu);
}

TEST(Bytes, Stores_WriteTheirBytesInOrderAndNothingBeside) {
  struct Row {
    const char* name;
    size_t width;
    void (*store)(uint8_t*);
    std::vector<uint8_t> want;
  };
  const Row rows[] = {
      {"le16", 2, [](uint8_t* p) { store_le16(p, 0xBEEF); }, {0xEF, 0xBE}},
      {"le32", 4, [](uint8_t* p) { store_le32(p, 0x12345678); }, {0x78, 0x56, 0x34, 0x12}},
      {"le64",
       8,
       [](uint8_t* p) { store_le64(p, 0x0102030405060788ULL); },
       {0x88, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {"be16", 2, [](uint8_t* p) { store_be16(p, 0x010E); }, {0x01, 0x0E}},
      {"be32", 4, [](uint8_t* p) { store_be32(p, 0x80A0C0E0); }, {0x80, 0xA0, 0xC0, 0xE0}},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> b = guarded(r.width);
    r.store(&b[1]);
    EXPECT_EQ(b.front(), kGuard) << r.name;
    EXPECT_EQ(b.back(), kGuard) << r.name;
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 1, b.end() - 1), r.want) << r.name;
  }
}

TEST(Bytes, LittleEndianStoresAndLoads_RoundTrip) {
  for (uint32_t v : {0u, 1u, 0x7FFFu, 0x8000u, 0xFFFFu, 0x10000u, 0x80000000u, 0xFFFFFFFFu}) {
    uint8_t b[4];
    store_le32(b, v);
    EXPECT_EQ(load_le32(b), v) << v;
    store_le16(b, static_cast<uint16_t>(v));
    EXPECT_EQ(load_le16(b), static_cast<uint16_t>(v)) << v;
  }
  uint8_t b[8];
  store_le64(b, 0xFFFFFFFF00000001ULL);
  EXPECT_EQ(load_le32(b), 1u);
  EXPECT_EQ(load_le32(b + 4), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace virazav::format

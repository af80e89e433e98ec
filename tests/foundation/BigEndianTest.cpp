#include <gtest/gtest.h>

#include "KLF_BigEndian.h"

namespace {

TEST(BigEndianReader, NeverReadsPastItsEnd) {
  const u8 b[7] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
  KLF_BEReader r = {b, 7, 0};
  EXPECT_EQ(r.U16(), 0x1234u);
  KLF_BEReader sub = r.Sub(3);  // 56 78 9A, positions those of the block
  EXPECT_EQ(r.pos, 5u);
  EXPECT_EQ(sub.U16(), 0x5678u);
  EXPECT_EQ(sub.U16(), 0u) << "one byte left: zeros, failed, position kept";
  EXPECT_FALSE(sub.Ok());
  EXPECT_EQ(sub.pos, 4u);
  EXPECT_FALSE(sub.Has(0)) << "a failed reader stays failed";
  EXPECT_EQ(r.U32(), 0u);
  EXPECT_EQ(r.U16(), 0u) << "after a failure every read is refused";
  KLF_BEReader s = {b, 7, 5};
  EXPECT_EQ(s.U8(), 0xBCu);
  EXPECT_EQ(s.Left(), 1u);
  EXPECT_EQ(s.Take(2), nullptr);
  EXPECT_FALSE(s.Sub(1).Ok());
  KLF_BEReader beyond = {b, 7, 9};  // a position past the end is empty
  EXPECT_EQ(std::make_pair(beyond.Left(), beyond.Has(0)), std::make_pair(u64(0), false));
}

}  // namespace

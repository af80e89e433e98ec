#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "CKLF_Mem.h"
#include "support/TestSupport.h"

namespace {
std::vector<u8> Bytes(const CKLF_Mem& m) { return std::vector<u8>(m.GetPtr(), m.GetPtr() + m.GetSize()); }
}  // namespace

TEST(Mem, FillsRespectWidthAndBounds) {
  CKLF_Mem m(10);
  m.SetError(17);
  ASSERT_TRUE(m.Set(static_cast<u8>(0xEE)));
  EXPECT_EQ(m.GetError(), 0);  // a success resets the code
  EXPECT_EQ(m.Set(static_cast<u32>(0x01020304)), 1);
  u32 w;
  std::memcpy(&w, m.GetPtr() + 4, 4);
  EXPECT_EQ(w, 0x01020304u);
  EXPECT_EQ(m.GetPtr()[8], 0xEE);  // two trailing bytes left alone
  EXPECT_EQ(m.GetPtr()[9], 0xEE);
  EXPECT_EQ(m.Set(static_cast<u8>(7), 8, 100), 1);  // clamped to the block
  EXPECT_EQ(m.GetPtr()[9], 7);
  EXPECT_FAILS(m, m.Set(static_cast<u8>(7), 10, 1), klErrEmpty);  // offset at the end

  CKLF_Mem odd(5), empty;
  ASSERT_TRUE(odd.Set(static_cast<u8>(0)));
  ASSERT_TRUE(odd.Set(static_cast<u16>(0xABCD)));
  EXPECT_EQ(odd.GetPtr()[4], 0);
  EXPECT_FAILS(empty, empty.Set(static_cast<u8>(1)), klErrEmpty);
}

TEST(Mem, CopyClampsToBothBlocks) {
  CKLF_Mem src(8), small(4), big(12), empty;
  for (u32 i = 0; i < 8; ++i) src.GetPtr()[i] = static_cast<u8>(i + 1);
  ASSERT_TRUE(big.Set(static_cast<u8>(0)));
  EXPECT_EQ(small.Copy(&src, 0, 0), 4u);
  EXPECT_EQ(big.Copy(&src, 0, 0), 8u);
  EXPECT_EQ(big.Copy(10, &src, 2, 0), 2u);  // room for 2 at the end
  EXPECT_EQ(big.Copy(8, &src, 6, 5), 2u);   // the source has 2 left
  EXPECT_EQ(big.Copy(1, &src, 0, 1), 1u);   // the count limits
  EXPECT_EQ(Bytes(big), (std::vector<u8>{1, 1, 3, 4, 5, 6, 7, 8, 7, 8, 3, 4}));
  EXPECT_EQ(small.Copy(2, "abcdef", 6), 2u);
  EXPECT_EQ(Bytes(small), (std::vector<u8>{1, 2, 'a', 'b'}));
  EXPECT_EQ(big.Copy(13, &src, 0, 0), 0u);  // offset beyond the block
  EXPECT_EQ(big.GetError(), klErrEmpty);
  EXPECT_FAILS(empty, empty.Copy(&src, 0, 0), klErrEmpty);
}

TEST(Mem, ResizeCloneAndWideRequests) {
  CKLF_Mem m(3);
  ASSERT_TRUE(m.Set(static_cast<u8>(9)));
  ASSERT_EQ(m.Resize(6), 1);
  EXPECT_EQ(Bytes(m), (std::vector<u8>{9, 9, 9, 0, 0, 0}));
  ASSERT_EQ(m.Resize(2), 1);
  CKLF_Mem* c = m.Clone();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Bytes(*c), (std::vector<u8>{9, 9}));
  EXPECT_NE(c->GetPtr(), m.GetPtr());
  delete c;
  ASSERT_EQ(m.Resize(0), 1);
  EXPECT_EQ(m.GetPtr(), nullptr);
  c = m.Clone();  // an empty block clones empty
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetSize(), 0u);
  delete c;

  EXPECT_FAILS_WITH(m, m.allocDWord(0x40000001u), nullptr, klErrNoMemory);  // 4 * n does not fit 32 bits
  EXPECT_EQ(m.GetSize(), 0u);
  ASSERT_NE(m.ZallocWord(3), nullptr);
  EXPECT_EQ(Bytes(m), std::vector<u8>(6, 0));
  EXPECT_EQ(m.alloc(0), nullptr);
  EXPECT_EQ(m.GetSize(), 0u);
}

TEST(Mem, GrowKeepsTheBytesItHas) {
  struct Case { u32 had, want, size; } cases[] = {{0, 5, 5}, {3, 8, 8}, {6, 4, 6}, {6, 6, 6}, {0, 0, 0}};
  for (const Case& c : cases) {
    CKLF_Mem m(c.had);
    for (u32 i = 0; i < c.had; ++i) m.GetPtr()[i] = static_cast<u8>(i + 1);
    const u8* was = m.GetPtr();
    EXPECT_EQ(m.Grow(c.want) != nullptr, c.size > 0) << c.had << " to " << c.want;
    EXPECT_EQ(m.GetSize(), c.size);
    EXPECT_EQ(m.GetError(), 0);
    for (u32 i = 0; i < c.had; ++i) EXPECT_EQ(m.GetPtr()[i], i + 1);
    if (c.want <= c.had) {
      EXPECT_EQ(m.GetPtr(), was);  // large enough: left as it is
    }
  }
}

#include <gtest/gtest.h>

#include <cstring>

#include "CKLF_Mem.h"

TEST(ErrorManager, CodesAndResetConventions) {
  CKLF_Mem m;
  EXPECT_EQ(m.IsError(), 0);
  EXPECT_EQ(m.GetError(), 0);
  m.SetError(17);
  EXPECT_EQ(m.IsError(), 1);
  // A successful operation that does not reset leaves the code standing...
  ASSERT_NE(m.alloc(4), nullptr);
  EXPECT_EQ(m.GetError(), 17);
  // ...one that resets clears it.
  EXPECT_EQ(m.Set(static_cast<u8>(1)), 1);
  EXPECT_EQ(m.GetError(), 0);
  EXPECT_STREQ(KLF_ErrorText(klErrStoreNoKey), "key not found");
}

TEST(Mem, FillsRespectWidthAndBounds) {
  CKLF_Mem m(10);
  ASSERT_EQ(m.GetSize(), 10u);
  m.Set(static_cast<u8>(0xEE));
  EXPECT_EQ(m.Set(static_cast<u32>(0x01020304)), 1);
  u32 w;
  std::memcpy(&w, m.GetPtr() + 4, 4);
  EXPECT_EQ(w, 0x01020304u);
  EXPECT_EQ(m.GetPtr()[8], 0xEE);  // two trailing bytes left alone
  EXPECT_EQ(m.GetPtr()[9], 0xEE);

  EXPECT_EQ(m.Set(static_cast<u8>(7), 8, 100), 1);  // clamped to the block
  EXPECT_EQ(m.GetPtr()[9], 7);
  EXPECT_EQ(m.Set(static_cast<u8>(7), 10, 1), 0);  // offset at the end
  EXPECT_EQ(m.GetError(), klErrEmpty);

  CKLF_Mem odd(5);
  odd.Set(static_cast<u8>(0));
  odd.Set(static_cast<u16>(0xABCD));
  EXPECT_EQ(odd.GetPtr()[4], 0);

  CKLF_Mem empty;
  EXPECT_EQ(empty.Set(static_cast<u8>(1)), 0);
  EXPECT_EQ(empty.GetError(), klErrEmpty);
}

TEST(Mem, CopyClampsToBothBlocks) {
  CKLF_Mem src(8);
  for (u32 i = 0; i < 8; ++i) src.GetPtr()[i] = static_cast<u8>(i + 1);

  CKLF_Mem small(4);
  EXPECT_EQ(small.Copy(&src, 0, 0), 4u);
  EXPECT_EQ(std::memcmp(small.GetPtr(), src.GetPtr(), 4), 0);

  CKLF_Mem big(12);
  big.Set(static_cast<u8>(0x55));
  EXPECT_EQ(big.Copy(&src, 0, 0), 8u);
  EXPECT_EQ(big.GetPtr()[8], 0x55);  // rest untouched

  EXPECT_EQ(big.Copy(10, &src, 2, 0), 2u);  // room for 2 at the end
  EXPECT_EQ(big.GetPtr()[10], 3);
  EXPECT_EQ(big.Copy(0, &src, 6, 5), 2u);  // source has 2 left
  EXPECT_EQ(big.Copy(1, &src, 0, 3), 3u);  // count limits
  const char raw[] = "abcdef";
  EXPECT_EQ(small.Copy(2, raw, 6), 2u);
  EXPECT_EQ(small.GetPtr()[3], 'b');

  EXPECT_EQ(big.Copy(13, &src, 0, 0), 0u);  // offset beyond the block
  EXPECT_EQ(big.GetError(), klErrEmpty);
  CKLF_Mem empty;
  EXPECT_EQ(empty.Copy(&src, 0, 0), 0u);
  EXPECT_EQ(empty.GetError(), klErrEmpty);
}

TEST(Mem, ResizeKeepsContentAndZeroFillsTail) {
  CKLF_Mem m(3);
  m.Set(static_cast<u8>(9));
  ASSERT_EQ(m.Resize(6), 1);
  EXPECT_EQ(m.GetSize(), 6u);
  const u8 want[6] = {9, 9, 9, 0, 0, 0};
  EXPECT_EQ(std::memcmp(m.GetPtr(), want, 6), 0);
  ASSERT_EQ(m.Resize(2), 1);
  EXPECT_EQ(m.GetPtr()[1], 9);
  ASSERT_EQ(m.Resize(0), 1);
  EXPECT_EQ(m.GetSize(), 0u);
  EXPECT_EQ(m.GetPtr(), nullptr);
}

TEST(Mem, WideRequestsFailInsteadOfWrapping) {
  CKLF_Mem m(4);
  EXPECT_EQ(m.allocDWord(0x40000001u), nullptr);  // 4 * n does not fit 32 bits
  EXPECT_EQ(m.GetError(), klErrNoMemory);
  EXPECT_EQ(m.GetSize(), 0u);
  EXPECT_EQ(m.GetPtr(), nullptr);
  ASSERT_NE(m.ZallocWord(3), nullptr);
  EXPECT_EQ(m.GetSize(), 6u);
  EXPECT_EQ(m.alloc(0), nullptr);
  EXPECT_EQ(m.GetSize(), 0u);
}

TEST(Mem, CloneCopiesAndEmptyClonesEmpty) {
  CKLF_Mem m(5);
  std::memcpy(m.GetPtr(), "hello", 5);
  CKLF_Mem* c = m.Clone();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetSize(), 5u);
  EXPECT_EQ(std::memcmp(c->GetPtr(), "hello", 5), 0);
  EXPECT_NE(c->GetPtr(), m.GetPtr());
  delete c;

  CKLF_Mem empty;
  CKLF_Mem* e = empty.Clone();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->GetSize(), 0u);
  delete e;
}

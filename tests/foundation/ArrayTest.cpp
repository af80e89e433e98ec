#include <gtest/gtest.h>

#include <vector>

#include "CKLF_Array.h"

namespace {
std::vector<u32> Values(const CKLF_DWordArray& a) {
  std::vector<u32> v;
  for (u32 i = 0; i < a.GetSize(); ++i) v.push_back(a[i]);
  return v;
}
}  // namespace

TEST(Array, GrowthSteps) {
  CKLF_DWordArray a;
  for (u32 i = 0; i <= 10; ++i) {
    EXPECT_EQ(a.Add(i * 3), static_cast<i32>(i));
    EXPECT_EQ(a.GetCapacity(), i < 10 ? 10u : 20u);
  }

  CKLF_WordArray s;
  ASSERT_EQ(s.SetAt(25, 7), 1);
  EXPECT_EQ(s.GetSize(), 26u);
  EXPECT_EQ(s.GetCapacity(), 35u);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(s[i], 0);
  EXPECT_EQ(s[25], 7);
  EXPECT_EQ(s[34], 0);  // beyond the count, inside the capacity
  EXPECT_EQ(s[35], 0);  // beyond the capacity
  u16 v = 99;
  EXPECT_EQ(s.GetAt(35, v), 0);
  EXPECT_EQ(v, 99);
  EXPECT_EQ(s[-1], 0);

  CKLF_DWordArray full;
  for (u32 i = 0; i < 10; ++i) full.Add(i);
  ASSERT_EQ(full.InsertAt(0, 100), 1);
  EXPECT_EQ(full.GetCapacity(), 20u);
  EXPECT_EQ(Values(full), (std::vector<u32>{100, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  full.InsertAt(20, 5);  // beyond the count acts as SetAt
  EXPECT_EQ(full.GetSize(), 21u);
}

TEST(Array, DeleteClearsTheVacatedSlot) {
  CKLF_DWordArray a;
  a.Add(1);
  a.Add(2);
  a.Add(3);
  a.DeleteAt(3);  // at the count: nothing
  EXPECT_EQ(a.GetSize(), 3u);
  a.DeleteAt(0);
  EXPECT_EQ(Values(a), (std::vector<u32>{2, 3}));
  EXPECT_EQ(a[2], 0u);  // no stale copy of the last element
}

TEST(Array, ShrinkingClampsTheCount) {
  CKLF_DWordArray a;
  for (u32 i = 0; i < 15; ++i) a.Add(i);
  ASSERT_EQ(a.SetArraySize(4), 1);
  EXPECT_EQ(a.GetSize(), 4u);
  EXPECT_EQ(a.GetCapacity(), 4u);
  // Further growth and deletes stay inside the block.
  a.Add(77);
  a.DeleteAt(0);
  EXPECT_EQ(Values(a), (std::vector<u32>{1, 2, 3, 77}));
  a.Compact();
  EXPECT_EQ(a.GetCapacity(), 4u);
  a.Empty();
  EXPECT_EQ(a.GetSize(), 0u);
  EXPECT_EQ(a.GetCapacity(), 0u);

  CKLF_DWordArray huge;
  EXPECT_EQ(huge.SetArraySize(0x40000000u), 0);  // 4 GiB does not fit 32 bits
  EXPECT_EQ(huge.GetError(), klErrNoMemory);
}

TEST(Array, SortingThroughCompareElements) {
  CKLF_DWordArray a;
  a.Add(3);
  a.Add(1);
  a.Add(2);
  a.SortElements(1);
  EXPECT_EQ(Values(a), (std::vector<u32>{1, 2, 3}));
  a.SortElements(0);
  EXPECT_EQ(Values(a), (std::vector<u32>{3, 2, 1}));

  CKLF_SByteArray s;
  s.Add(5);
  s.Add(-3);
  s.Add(0);
  s.SortElements(1);
  EXPECT_EQ(s[0], -3);
  EXPECT_EQ(s[2], 5);

  CKLF_FloatArray f;
  f.Add(2.5f);
  f.Add(-1.0f);
  f.SortElements(1);
  EXPECT_EQ(f[0], -1.0f);

  // Pointer arrays keep their order.
  int x, y;
  CKLF_PtrArray p;
  p.Add(&y);
  p.Add(&x);
  p.SortElements(1);
  EXPECT_EQ(p[0], &y);

  // A subclass orders by its own rule.
  struct ByLowDigit : CKLF_DWordArray {
    i32 CompareElements(const void* a, const void* b) override {
      u32 x = *static_cast<const u32*>(a) % 10, y = *static_cast<const u32*>(b) % 10;
      return x < y ? -1 : (x > y ? 1 : 0);
    }
  } d;
  d.Add(19);
  d.Add(21);
  d.Add(35);
  d.SortElements(1);
  EXPECT_EQ(d[0], 21u);
  EXPECT_EQ(d[2], 19u);
}

TEST(StringArray, OwnsCopiesWithValues) {
  CKLF_StringArray a;
  CKLF_String s("one");
  EXPECT_EQ(a.Add(s, 1), 0);
  s = "changed";  // the array holds its own copy
  a.Add("two", 2);
  a.InsertAt(0, "zero", 0);
  CKLF_String out;
  a.GetAt(0, out);
  EXPECT_STREQ(out.GetStr(), "zero");
  EXPECT_STREQ(a[1].GetStr(), "one");
  EXPECT_EQ(a[2].GetUserValue(), 2u);
  EXPECT_STREQ(a[7].GetStr(), "");

  // Replacing and deleting keep one owner per string.
  a.SetAt(1, "uno", 11);
  a.DeleteAt(0);
  a.SetAt(1, "dos", 22);  // the slot vacated by the delete is not freed twice
  EXPECT_EQ(a.GetSize(), 2u);
  EXPECT_STREQ(a[0].GetStr(), "uno");
  EXPECT_STREQ(a[1].GetStr(), "dos");
  a.SetArraySize(1);  // drops "dos"
  EXPECT_EQ(a.GetSize(), 1u);
  a.SetAt(3, "far", 3);
  EXPECT_STREQ(a[2].GetStr(), "");
  EXPECT_EQ(a.LSearch("FAR", 0), 3);
  EXPECT_EQ(a.LSearch("FAR", 1), -1);
}

TEST(StringArray, SortedSearch) {
  CKLF_StringArray a;
  a.Add("c", 0);
  a.Add("b", 0);
  a.Add("a", 0);
  a.Add("b", 0);
  a.Add("ab", 0);
  a.SortElements(1);
  EXPECT_STREQ(a[0].GetStr(), "a");
  EXPECT_STREQ(a[1].GetStr(), "ab");  // a prefix before its extensions
  EXPECT_STREQ(a[4].GetStr(), "c");

  CKLF_StringArray b;
  b.Add("a", 0);
  b.Add("b", 0);
  b.Add("b", 0);
  b.Add("c", 0);
  EXPECT_EQ(b.BSearch("b", 1), 1);
  EXPECT_EQ(b.BSearch("bb", 1), -1);
  EXPECT_EQ(b.BSearch("c", 1), 3);
  EXPECT_EQ(b.BSearch("B", 0), 1);
  EXPECT_EQ(b.UpperBound("b", 1), 3u);
  EXPECT_EQ(b.UpperBound("0", 1), 0u);
  EXPECT_EQ(b.UpperBound("z", 1), 4u);

  CKLF_StringArray empty;
  EXPECT_EQ(empty.BSearch("a", 1), -1);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CKLF_Array.h"

namespace {
std::vector<u32> Values(const CKLF_DWordArray& a) {
  std::vector<u32> v;
  for (u32 i = 0; i < a.GetSize(); ++i) v.push_back(a[i]);
  return v;
}
}  // namespace

TEST(Array, GrowthBoundsAndVacatedSlots) {
  CKLF_DWordArray a;
  for (u32 i = 0; i < 20; ++i) {
    EXPECT_EQ(a.Add(i), static_cast<i32>(i));
    EXPECT_EQ(a.GetCapacity(), i < 10 ? 10u : 20u);
  }
  ASSERT_EQ(a.InsertAt(0, 100), 1);  // into a full array
  EXPECT_EQ(a.GetCapacity(), 30u);
  a.DeleteAt(21);  // at the count: nothing
  a.DeleteAt(5);
  std::vector<u32> want = {100};
  for (u32 i = 0; i < 20; ++i)
    if (i != 4) want.push_back(i);
  EXPECT_EQ(Values(a), want);
  EXPECT_EQ(a[20], 0u);  // no stale copy of the last element
  ASSERT_TRUE(a.InsertAt(40, 5));     // beyond the count acts as SetAt
  EXPECT_EQ(a.GetSize(), 41u);

  CKLF_WordArray s;
  ASSERT_EQ(s.SetAt(25, 7), 1);
  EXPECT_EQ(s.GetSize(), 26u);
  EXPECT_EQ(s.GetCapacity(), 35u);
  EXPECT_EQ(s[24], 0);
  EXPECT_EQ(s[25], 7);
  EXPECT_EQ(s[35], 0);  // beyond the capacity
  EXPECT_EQ(s[-1], 0);
  s[24] = 8;  // writes the element in place
  s[3] += 2;
  s[35] = 9;  // beyond the capacity: no element, nothing kept
  EXPECT_EQ(s[24] + s[3], 10);
  EXPECT_EQ(s[35], 0);
  EXPECT_EQ(s.GetSize(), 26u);
  u16 v = 99;
  EXPECT_EQ(s.GetAt(35, v), 0);
  EXPECT_EQ(v, 99);
}

// Filled one element at a time, by any of the three ways that grow it, an
// array is reallocated a few dozen times, not once every ten elements; the
// elements and their indices are what they would be either way.
TEST(Array, LargeArraysGrowByHalfTheirCapacity) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const u32 n = way == 2 ? 6000 : 200000;  // inserting in front moves every element
    CKLF_DWordArray a;
    u32 growths = 0, capacity = 0;
    for (u32 i = 0; i < n; ++i) {
      const bool grew = way == 0 ? a.Add(i) == static_cast<i32>(i) : way == 1 ? a.SetAt(i, i) == 1
                                                                               : a.InsertAt(0, n - 1 - i) == 1;
      ASSERT_TRUE(grew) << i;
      growths += a.GetCapacity() != capacity;
      capacity = a.GetCapacity();
    }
    EXPECT_LT(growths, 40u);
    EXPECT_LE(a.GetCapacity(), n + n / 2 + 10);
    ASSERT_EQ(a.GetSize(), n);
    for (u32 i = 0; i < n; i += 997) EXPECT_EQ(a[i], i);
    EXPECT_EQ(a[n - 1], n - 1);
  }
}

TEST(Array, ShrinkingClampsTheCountAndHugeSizesFail) {
  CKLF_DWordArray a;
  for (u32 i = 0; i < 15; ++i) ASSERT_GE(a.Add(i), 0);
  ASSERT_EQ(a.SetArraySize(4), 1);
  EXPECT_EQ(a.GetCapacity(), 4u);
  ASSERT_GE(a.Add(77), 0);  // grows again from the clamped count
  a.DeleteAt(0);
  EXPECT_EQ(Values(a), (std::vector<u32>{1, 2, 3, 77}));
  a.Empty();
  EXPECT_EQ(a.GetSize() + a.GetCapacity(), 0u);
  EXPECT_EQ(a.SetArraySize(0x40000000u), 0);  // 4 GiB does not fit 32 bits
  EXPECT_EQ(a.GetError(), klErrNoMemory);
}

TEST(Array, SortingThroughCompareElements) {
  CKLF_DWordArray a;
  for (u32 v : {3, 1, 2}) ASSERT_GE(a.Add(v), 0);
  a.SortElements(1);
  EXPECT_EQ(Values(a), (std::vector<u32>{1, 2, 3}));
  a.SortElements(0);
  EXPECT_EQ(Values(a), (std::vector<u32>{3, 2, 1}));
  CKLF_SByteArray s;
  for (i8 v : {5, -3, 0}) ASSERT_GE(s.Add(v), 0);
  s.SortElements(1);
  EXPECT_EQ(s[0], -3);
  EXPECT_EQ(s[2], 5);

  // Elements of any size up to 255 bytes swap whole.
  struct Wide {
    u64 key, a, b;
    bool operator<(const Wide& o) const { return key < o.key; }
  };
  CKLF_TypedArray<Wide> w;
  for (u64 k : {5, 1, 3}) ASSERT_GE(w.Add(Wide{k, k * 10, k * 100}), 0);
  ASSERT_EQ(w.SortElements(1), 1);
  EXPECT_EQ(w[0].key + w[1].key * 10 + w[2].key * 100, 531u);
  EXPECT_EQ(w[2].b, 500u);

  // Pointer arrays keep their order.
  int x, y;
  CKLF_PtrArray p;
  ASSERT_GE(p.Add(&y), 0);
  ASSERT_GE(p.Add(&x), 0);
  p.SortElements(1);
  EXPECT_EQ(p[0], &y);
}

TEST(StringArray, OwnsOneCopyPerSlot) {
  CKLF_StringArray a;
  CKLF_String s("one");
  EXPECT_EQ(a.Add(s, 1), 0);
  ASSERT_FALSE((s = "changed").IsError());  // the array holds its own copy
  ASSERT_GE(a.Add("two", 2), 0);
  ASSERT_TRUE(a.InsertAt(0, "zero", 0));
  EXPECT_STREQ(a[1].GetStr(), "one");
  EXPECT_EQ(a[2].GetUserValue(), 2u);
  EXPECT_STREQ(a[7].GetStr(), "");
  ASSERT_TRUE(a.SetAt(1, "uno", 11));
  a.DeleteAt(0);
  ASSERT_TRUE(a.SetAt(1, "dos", 22));  // the slot vacated by the delete is not freed twice
  EXPECT_STREQ(a[0].GetStr(), "uno");
  EXPECT_STREQ(a[1].GetStr(), "dos");
  ASSERT_TRUE(a.SetArraySize(1));  // drops "dos"
  ASSERT_TRUE(a.SetAt(3, "far", 3));
  EXPECT_STREQ(a[2].GetStr(), "");
  EXPECT_EQ(a.LSearch("FAR", 0), 3);
  EXPECT_EQ(a.LSearch("FAR", 1), -1);
}

TEST(StringArray, SortAndSearchesAgreeWithTheStandardLibrary) {
  std::mt19937 rng(9);
  const std::vector<std::string> probes = {"", "a", "b", "c", "aa", "ab", "ba", "bb", "a>", "a!", "B"};
  for (int t = 0; t < 200; ++t) {
    std::vector<std::string> v;
    for (u32 n = rng() % 9; n > 0; --n) v.push_back(probes[1 + rng() % (probes.size() - 1)]);
    CKLF_StringArray a;
    for (auto& s : v) ASSERT_GE(a.Add(s.c_str(), 0), 0);
    a.SortElements(1);
    std::sort(v.begin(), v.end());
    for (u32 i = 0; i < v.size(); ++i) ASSERT_EQ(std::string(a[i].GetStr()), v[i]);
    for (auto& p : probes) {
      auto lo = std::lower_bound(v.begin(), v.end(), p);
      i32 want = lo != v.end() && *lo == p ? static_cast<i32>(lo - v.begin()) : -1;
      EXPECT_EQ(a.BSearch(p.c_str(), 1), want) << p;
      EXPECT_EQ(a.UpperBound(p.c_str(), 1), static_cast<u32>(std::upper_bound(v.begin(), v.end(), p) - v.begin())) << p;
    }
  }
  CKLF_StringArray b;
  ASSERT_GE(b.Add("a", 0), 0);
  ASSERT_GE(b.Add("b", 0), 0);
  EXPECT_EQ(b.BSearch("B", 0), 1);
}

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "CKLF_String.h"

TEST(String, BufferGrowsInTwentyByteStepsAndAppendsToItself) {
  CKLF_String s;
  EXPECT_EQ(s.GetMem().GetSize(), 20u);
  ASSERT_FALSE((s += "0123456789012345678").IsError());  // 19 characters + NUL fit
  EXPECT_EQ(s.GetMem().GetSize(), 20u);
  ASSERT_FALSE((s += 'x').IsError());
  EXPECT_EQ(s.GetMem().GetSize(), 40u);
  EXPECT_EQ(s.GetLength(), 20u);
  CKLF_String big;
  ASSERT_TRUE(big.Append(CKLF_String("0123456789abcdefghij"), 100));
  EXPECT_EQ(big.GetMem().GetSize(), 120u);

  ASSERT_FALSE((s = s).IsError());
  ASSERT_FALSE((s += s).IsError());
  EXPECT_EQ(std::string(s.GetStr()), "0123456789012345678x0123456789012345678x");
}

TEST(String, CompareAndOperatorsAgreeWithByteOrder) {
  // +1 when this string sorts first; bytes are unsigned; NoCase folds ASCII.
  std::mt19937 rng(4);
  const char* parts[] = {"a", "b", "A", "\xC0", "~"};
  auto random = [&] {
    std::string s;
    for (u32 n = rng() % 4; n > 0; --n) s += parts[rng() % 5];
    return s;
  };
  auto upper = [](std::string s) {
    for (auto& c : s) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return s;
  };
  auto sign = [](int c) { return c < 0 ? 1 : (c > 0 ? -1 : 0); };
  for (int t = 0; t < 500; ++t) {
    std::string x = random(), y = random();
    CKLF_String a(x.c_str()), b(y.c_str());
    ASSERT_EQ(a.Compare(b), sign(x.compare(y))) << x << " " << y;
    ASSERT_EQ(a.Compare(y.c_str()), sign(x.compare(y)));
    ASSERT_EQ(a.CompareNoCase(b), sign(upper(x).compare(upper(y)))) << x << " " << y;
    ASSERT_EQ(a < b, x < y);
    ASSERT_EQ(a > y.c_str(), x > y);
    ASSERT_EQ(x.c_str() <= b, x <= y);
    ASSERT_EQ(a >= b, x >= y);
    ASSERT_EQ(a == b, x == y);
    ASSERT_EQ(x.c_str() != b, x != y);
    ASSERT_EQ(a < y[0], x < y.substr(0, 1));
  }
}

TEST(String, FindForwardAndBackward) {
  CKLF_String s("abca");
  EXPECT_EQ(s.Find('a', 1, 1), 3);
  EXPECT_EQ(s.Find("ca", 0, 1), 2);
  EXPECT_EQ(s.Find('z', 0, 1), -1);
  EXPECT_EQ(s.Find('a', 4, 1), -1);  // start at the length
  // Backward results count from the end; start skips the last characters.
  EXPECT_EQ(CKLF_String("abcd").Find('a', 0, 0), 3);
  EXPECT_EQ(s.Find('a', 1, 0), 3);
  EXPECT_EQ(CKLF_String("xabyab").Find("ab", 0, 0), 0);
}

TEST(String, SlicingTrimmingAndInsertion) {
  CKLF_String s("abcdef");
  EXPECT_STREQ(s.Mid(1, 2, 0).GetStr(), "de");
  EXPECT_STREQ(s.Mid(1, 2, 1).GetStr(), "bc");
  EXPECT_STREQ(s.Mid(4, 10, 1).GetStr(), "ef");
  EXPECT_STREQ(s.Left(20).GetStr(), "abcdef");
  EXPECT_STREQ(s.Right(3).GetStr(), "def");

  CKLF_String spaces("   "), t("  x "), tab("\t y  ");
  spaces.TrimRight();
  t.TrimLeft();
  tab.TrimBoth();
  EXPECT_EQ(spaces.GetLength(), 0u);
  EXPECT_STREQ(t.GetStr(), "x ");
  EXPECT_STREQ(tab.GetStr(), "\t y");

  CKLF_String ab("ab"), mid("abef");
  ASSERT_TRUE(ab.InsertAt(5, CKLF_String("X")));
  EXPECT_STREQ(ab.GetStr(), "ab   X");
  EXPECT_EQ(ab.GetLength(), 6u);
  ASSERT_TRUE(mid.InsertAt(2, "cd"));
  EXPECT_STREQ(mid.GetStr(), "abcdef");
  mid.DeleteFrom(1, 2);
  mid.DeleteFrom(2, 100);
  mid.DeleteFrom(5, 1);
  EXPECT_STREQ(mid.GetStr(), "ad");
  mid.Reverse();
  mid.MakeUpper();
  EXPECT_STREQ(mid.GetStr(), "DA");
}

TEST(String, FormatHexAndFromMem) {
  CKLF_String s;
  ASSERT_TRUE(s.Format("<%s>", std::string(500, 'q').c_str()));
  EXPECT_EQ(s.GetLength(), 502u);
  ASSERT_TRUE(s.Format("%s", ""));
  EXPECT_EQ(s.GetLength(), 0u);
  // An argument that is the string's own text still formats correctly.
  CKLF_String self("hello world, this is longer than twenty");
  ASSERT_TRUE(self.Format("%s and %s", self.GetStr(), self.GetStr()));
  EXPECT_STREQ(self.GetStr(), "hello world, this is longer than twenty and hello world, this is longer than twenty");

  const u8 bytes[2] = {0x0A, 0xFF};
  ASSERT_TRUE(s.BufferHEX(bytes, 2));
  EXPECT_STREQ(s.GetStr(), "0AFF");

  CKLF_Mem m(6);
  std::memcpy(m.GetPtr(), "ab\0cd", 6);
  ASSERT_TRUE(s.SetFromMem(m, 0));
  EXPECT_STREQ(s.GetStr(), "ab");
  std::memcpy(m.GetPtr(), "xyzxyz", 6);
  ASSERT_TRUE(s.SetFromMem(m, 2));
  EXPECT_STREQ(s.GetStr(), "xy");
}

TEST(String, CopiesCarryTheUserValueAndPathsSplitAtTheLastSeparator) {
  CKLF_String a("text");
  a.SetUserValue(42);
  CKLF_String b(a), c;
  ASSERT_FALSE((c = a).IsError());
  ASSERT_FALSE((c = "other").IsError());  // C-string assignment leaves the value, and so does a hex dump
  const u8 bytes[1] = {7};
  ASSERT_TRUE(c.BufferHEX(bytes, 1));
  EXPECT_EQ(b.GetUserValue(), 42u);
  EXPECT_EQ(c.GetUserValue(), 42u);
  EXPECT_STREQ(c.GetStr(), "07");
  EXPECT_EQ(a[10], 0);

  CKLF_String parent, name;
  ASSERT_TRUE(SplitPath("A>B>C", parent, name));
  EXPECT_EQ(std::string(parent) + "|" + std::string(name), "A>B|C");
  ASSERT_TRUE(SplitPath("C", parent, name));
  EXPECT_EQ(std::string(parent) + "|" + std::string(name), "|C");
  ASSERT_TRUE(SplitPath("A>", parent, name));
  EXPECT_EQ(std::string(parent) + "|" + std::string(name), "A|");
}

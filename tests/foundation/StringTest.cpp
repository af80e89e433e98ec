#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CKLF_String.h"

TEST(String, BufferGrowsInTwentyByteSteps) {
  CKLF_String s;
  EXPECT_EQ(s.GetMem().GetSize(), 20u);
  s += "0123456789012345678";  // 19 characters + NUL fit
  EXPECT_EQ(s.GetMem().GetSize(), 20u);
  s += 'x';
  EXPECT_EQ(s.GetMem().GetSize(), 40u);
  EXPECT_STREQ(s.GetStr(), "0123456789012345678x");
  EXPECT_EQ(s.GetLength(), 20u);

  CKLF_String big;
  big.Append(CKLF_String("abc"), 100);  // no growth needed, grow ignored
  EXPECT_EQ(big.GetMem().GetSize(), 20u);
  big.Append(CKLF_String("0123456789abcdefghij"), 100);
  EXPECT_EQ(big.GetMem().GetSize(), 120u);

  s = s;  // self-assignment keeps the text
  s += s;
  EXPECT_EQ(std::string(s.GetStr()), "0123456789012345678x0123456789012345678x");
}

TEST(String, CompareHasTheFrameworksSign) {
  CKLF_String abc("abc"), abd("abd"), ab("ab"), a("a"), b("b");
  EXPECT_EQ(abc.Compare(abd), 1);
  EXPECT_EQ(abd.Compare(abc), -1);
  EXPECT_EQ(ab.Compare(abc), 1);  // a prefix sorts first
  EXPECT_EQ(b.Compare(a), -1);
  EXPECT_EQ(abc.Compare("abc"), 0);
  EXPECT_EQ(CKLF_String("\xC0").Compare("a"), -1);  // bytes are unsigned

  EXPECT_TRUE(abc < abd);
  EXPECT_TRUE(abd > abc);
  EXPECT_TRUE(abc <= abd && abc <= "abc");
  EXPECT_FALSE(abd <= abc);
  EXPECT_TRUE(abd >= abc);
  EXPECT_TRUE(abc != abd);
  EXPECT_TRUE(abc == "abc");
  EXPECT_TRUE("abc" == abc);
  EXPECT_TRUE("abb" < abc);  // string on the right mirrors the operator
  EXPECT_TRUE("abd" > abc);
  EXPECT_TRUE(a == 'a');
  EXPECT_TRUE('a' < b);
  EXPECT_TRUE(b > 'a');

  EXPECT_EQ(CKLF_String("ABC").CompareNoCase("abc"), 0);
  EXPECT_EQ(CKLF_String("ABC").CompareNoCase("abd"), 1);
  EXPECT_EQ(CKLF_String("ABC").Compare("abc"), 1);  // 'A' < 'a'
}

TEST(String, FindForwardAndBackward) {
  CKLF_String s("abca");
  EXPECT_EQ(s.Find('a', 0, 1), 0);
  EXPECT_EQ(s.Find('a', 1, 1), 3);
  EXPECT_EQ(s.Find("ca", 0, 1), 2);
  EXPECT_EQ(s.Find('z', 0, 1), -1);
  EXPECT_EQ(s.Find('a', 4, 1), -1);  // start at the length

  // Backward results count from the end.
  EXPECT_EQ(s.Find('a', 0, 0), 0);
  EXPECT_EQ(CKLF_String("abcd").Find('a', 0, 0), 3);
  EXPECT_EQ(s.Find('a', 1, 0), 3);  // skips the last character
  EXPECT_EQ(CKLF_String("xabyab").Find("ab", 0, 0), 0);
}

TEST(String, SlicingTrimmingAndInsertion) {
  CKLF_String s("abcdef");
  EXPECT_STREQ(s.Mid(1, 2, 0).GetStr(), "de");
  EXPECT_STREQ(s.Mid(1, 2, 1).GetStr(), "bc");
  EXPECT_STREQ(s.Mid(4, 10, 1).GetStr(), "ef");
  EXPECT_STREQ(s.Left(2).GetStr(), "ab");
  EXPECT_STREQ(s.Left(20).GetStr(), "abcdef");
  EXPECT_STREQ(s.Right(3).GetStr(), "def");

  CKLF_String spaces("   ");
  spaces.TrimRight();
  EXPECT_EQ(spaces.GetLength(), 0u);
  CKLF_String t("  x ");
  t.TrimLeft();
  EXPECT_STREQ(t.GetStr(), "x ");
  CKLF_String tab("\t y  ");
  tab.TrimBoth();
  EXPECT_STREQ(tab.GetStr(), "\t y");

  CKLF_String ab("ab");
  ab.InsertAt(5, CKLF_String("X"));
  EXPECT_STREQ(ab.GetStr(), "ab   X");
  EXPECT_EQ(ab.GetLength(), 6u);
  CKLF_String mid("abef");
  mid.InsertAt(2, "cd");
  EXPECT_STREQ(mid.GetStr(), "abcdef");
  mid.DeleteFrom(1, 2);
  EXPECT_STREQ(mid.GetStr(), "adef");
  mid.DeleteFrom(2, 100);
  EXPECT_STREQ(mid.GetStr(), "ad");
  mid.DeleteFrom(5, 1);
  EXPECT_STREQ(mid.GetStr(), "ad");

  CKLF_String r("abc");
  r.Reverse();
  EXPECT_STREQ(r.GetStr(), "cba");
  CKLF_String up("aZ-1q");
  up.MakeUpper();
  EXPECT_STREQ(up.GetStr(), "AZ-1Q");
  up.MakeLower();
  EXPECT_STREQ(up.GetStr(), "az-1q");
}

TEST(String, FormatHexAndFromMem) {
  CKLF_String s;
  s.Format("%d", 7);
  EXPECT_STREQ(s.GetStr(), "7");
  EXPECT_EQ(s.GetLength(), 1u);
  s.Format("%s", "");
  EXPECT_EQ(s.GetLength(), 0u);
  std::string longText(500, 'q');
  s.Format("<%s>", longText.c_str());
  EXPECT_EQ(s.GetLength(), 502u);

  // An argument that is the string's own text still formats correctly.
  CKLF_String self("hello world, this is longer than twenty");
  self.Format("%s and %s", self.GetStr(), self.GetStr());
  EXPECT_STREQ(self.GetStr(),
               "hello world, this is longer than twenty and hello world, this is longer than twenty");

  const u8 bytes[2] = {0x0A, 0xFF};
  CKLF_String hex;
  hex.BufferHEX(bytes, 2);
  EXPECT_STREQ(hex.GetStr(), "0AFF");
  EXPECT_EQ(CKLF_String::HEXDigit(11), 'B');
  EXPECT_EQ(CKLF_String::HEXDigit(16), '0');

  CKLF_Mem m(6);
  std::memcpy(m.GetPtr(), "ab\0cd", 6);
  CKLF_String fromMem;
  fromMem.SetFromMem(m, 0);
  EXPECT_STREQ(fromMem.GetStr(), "ab");
  CKLF_Mem noNul(3);
  std::memcpy(noNul.GetPtr(), "xyz", 3);
  fromMem.SetFromMem(noNul, 2);
  EXPECT_STREQ(fromMem.GetStr(), "xy");
}

TEST(String, CopiesCarryTheUserValue) {
  CKLF_String a("text");
  a.SetUserValue(42);
  CKLF_String b(a);
  EXPECT_EQ(b.GetUserValue(), 42u);
  CKLF_String c;
  c = a;
  EXPECT_EQ(c.GetUserValue(), 42u);
  c = "other";  // C-string assignment leaves the value
  EXPECT_EQ(c.GetUserValue(), 42u);
  EXPECT_EQ(a[1], 'e');
  EXPECT_EQ(a[10], 0);
}

TEST(String, SplitPathAtTheLastSeparator) {
  CKLF_String parent, name;
  SplitPath("A>B>C", parent, name);
  EXPECT_STREQ(parent.GetStr(), "A>B");
  EXPECT_STREQ(name.GetStr(), "C");
  SplitPath("C", parent, name);
  EXPECT_STREQ(parent.GetStr(), "");
  EXPECT_STREQ(name.GetStr(), "C");
  SplitPath("A>", parent, name);
  EXPECT_STREQ(parent.GetStr(), "A");
  EXPECT_STREQ(name.GetStr(), "");
}

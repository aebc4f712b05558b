#include <gtest/gtest.h>

#include "base/StrUtils.h"
#include "package/Cir2Lat.h"

TEST(StrUtilsTest, HexLowerTrim) {
  const std::pair<char, int> hex[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'F', 15}, {'g', -1}, {' ', -1}};
  for (auto [c, v] : hex) EXPECT_EQ(HexValue(c), v) << c;
  EXPECT_EQ(LowerCase("AbC-Z \xD0\x90"), "abc-z \xD0\x90");  // only ASCII letters change
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim("\t a \t", " "), "\t a \t");
  EXPECT_EQ(Trim("   "), "");
}

TEST(StrUtilsTest, Utf8Decoding) {
  struct TCase {
    const char* Text;
    bool Surrogates;
    size_t Len;
    uint32_t Cp;
  };
  const TCase cases[] = {
      {"a", false, 1, 'a'},
      {"\xD1\x8F", false, 2, 0x44F},
      {"\xE2\x80\x94", false, 3, 0x2014},
      {"\xF0\x9F\x98\x80", false, 4, 0x1F600},
      {"\xC0\xAF", true, 0, 0},          // overlong
      {"\xED\xA0\x80", false, 0, 0},      // surrogate refused ...
      {"\xED\xA0\x80", true, 3, 0xD800},  // ... unless allowed
      {"\xD1", false, 0, 0},              // cut short
      {"\xF4\x90\x80\x80", true, 0, 0},   // above U+10FFFF
  };
  for (const auto& c : cases) {
    uint32_t cp = 0;
    EXPECT_EQ(DecodeUtf8At(c.Text, 0, cp, c.Surrogates), c.Len) << c.Text;
    if (c.Len) {
      EXPECT_EQ(cp, c.Cp) << c.Text;
    }
  }
  // Transliteration decodes with the same rules: an overlong form is not a letter and is
  // copied as it is.
  EXPECT_EQ(Cir2Lat("\xD1\x8F \xE0\x90\xB0"), "ya_\xE0\x90\xB0");
}

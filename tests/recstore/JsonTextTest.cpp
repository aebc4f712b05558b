#include <gtest/gtest.h>
#include <iconv.h>

#include <filesystem>
#include <set>

#include "recstore/JsonText.h"
#include "support/TestSupport.h"

namespace {

std::string Gcvt(double v) {
  std::string s;
  AppendGcvtDouble(s, v);
  return s;
}

}  // namespace

TEST(ProjectText, DocumentExercisingEveryRuleIsWrittenByteForByte) {
  TJson a = TJson::object();
  a["s"] = std::string("a\"b\\c/d\b\t\n\f\r\x01\x7f") + "\xC3\xA9" + "\xF0\x9F\x98\x80";
  a["i"] = -5;
  a["d"] = 25.0;
  a["z"] = 0.0;
  a["h"] = 0.5;
  a["big"] = 1e20;
  a["small"] = 0.00001;
  a["t"] = true;
  a["f"] = false;
  a["n"] = nullptr;
  a["e"] = TJson::object();
  a["ea"] = TJson::array();
  a["arr"] = TJson::array({1, "x", TJson::array({2, 3}), {{"k", 1}}});
  TJson doc = TJson::object();
  doc["DBVersion"] = "2.0.8.4";
  doc["A"] = a;

  const std::string expected =
      "{\r\n"
      " \"DBVersion\": \"2.0.8.4\",\r\n"
      " \"A\": {\r\n"
      "  \"s\": \"a\\\"b\\\\c\\/d\\b\\t\\n\\f\\r\\u0001\x7f\\u00e9\\ud83d\\ude00\",\r\n"
      "  \"i\": -5,\r\n"
      "  \"d\": 25.,\r\n"
      "  \"z\": 0.,\r\n"
      "  \"h\": 0.5,\r\n"
      "  \"big\": 1e+020,\r\n"
      "  \"small\": 1e-005,\r\n"
      "  \"t\": true,\r\n"
      "  \"f\": false,\r\n"
      "  \"n\": null,\r\n"
      "  \"e\": {},\r\n"
      "  \"ea\": [],\r\n"
      "  \"arr\": [\r\n"
      "   1,\"x\",[\r\n"
      "    2,3],{\r\n"
      "    \"k\": 1\r\n"
      "   }]\r\n"
      " }\r\n"
      "}";
  EXPECT_EQ(WriteProjectText(doc), expected);
  // Read back, the document is the same (member order included).
  TJson back = ParseProjectBytes(expected);
  EXPECT_EQ(back, doc);
  EXPECT_EQ(WriteProjectText(back), expected);
}

TEST(ProjectText, DoublesFollowTheFifteenDigitGcvtForm) {
  EXPECT_EQ(Gcvt(25.0), "25.");
  EXPECT_EQ(Gcvt(-2.0), "-2.");
  EXPECT_EQ(Gcvt(100.0), "100.");
  EXPECT_EQ(Gcvt(0.1), "0.1");
  EXPECT_EQ(Gcvt(-2.5), "-2.5");
  EXPECT_EQ(Gcvt(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(Gcvt(2.0 / 3.0), "0.666666666666667");
  EXPECT_EQ(Gcvt(0.0001), "0.0001");
  EXPECT_EQ(Gcvt(0.00012345), "0.00012345");
  EXPECT_EQ(Gcvt(1.5e-7), "1.5e-007");
  EXPECT_EQ(Gcvt(999999999999999.0), "999999999999999.");
  EXPECT_EQ(Gcvt(1e15), "1e+015");
  EXPECT_EQ(Gcvt(123456789012345678.0), "1.23456789012346e+017");
  EXPECT_EQ(Gcvt(1.0 / 16777216.0), "5.96046447753906e-008");
  EXPECT_EQ(Gcvt(1e300), "1e+300");
  EXPECT_EQ(Gcvt(0.1 + 0.2), "0.3");  // rounded to 15 digits
  EXPECT_EQ(Gcvt(42123.5), "42123.5");
}

TEST(ProjectText, NumbersKeepTheirKind) {
  TJson v = ParseJsonText("[25., -2., 2.e3, 7, -9223372036854775808, 18446744073709551615, 1E2]");
  EXPECT_TRUE(v[0].is_number_float());
  EXPECT_EQ(v[0].get<double>(), 25.0);
  EXPECT_EQ(v[1].get<double>(), -2.0);
  EXPECT_EQ(v[2].get<double>(), 2000.0);
  EXPECT_TRUE(v[3].is_number_integer());
  EXPECT_EQ(v[4].get<int64_t>(), INT64_MIN);
  EXPECT_EQ(v[5].get<uint64_t>(), UINT64_MAX);
  EXPECT_TRUE(v[6].is_number_float());
  EXPECT_THROW(ParseJsonText("[1e400]"), EJsonParse);
  EXPECT_THROW(ParseJsonText("[.5]"), EJsonParse);
  EXPECT_THROW(ParseJsonText("[01]"), EJsonParse);
  EXPECT_THROW(ParseJsonText("[1.e]"), EJsonParse);
}

TEST(ProjectText, ReadsUtf16Utf8AndWindows1251) {
  // UTF-16LE with byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"{\"N\":\"Жук\U0001F600\"}")) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  EXPECT_EQ(ParseProjectBytes(utf16)["N"], "Жук\U0001F600");
  // Valid UTF-8 stays UTF-8, a UTF-8 byte-order mark is dropped.
  EXPECT_EQ(ParseProjectBytes("\xEF\xBB\xBF{\"N\":\"Жук\"}")["N"], "Жук");
  // Not UTF-8: each byte is a Windows-1251 character.
  EXPECT_EQ(ParseProjectBytes("{\"N\":\"\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB9\"}")["N"], "Привет Ё№");
}

// Only bytes that hold no UTF-8 at all are a Windows-1251 text; a stray byte among UTF-8 is
// refused with its offset, or, where the reader asks for it, replaced and reported.
TEST(ProjectText, AStrayByteAmongUtf8IsNeverReadAsWindows1251) {
  struct {
    std::string Bytes;
    std::string Name;  // the value read ("" when refused)
    size_t Bad;        // offset reported (npos: none)
  } cases[] = {
      {"{\"N\":\"Жук\"}", "Жук", std::string::npos},
      {"{\"N\":\"\xC6\xF3\xEA\"}", "Жук", std::string::npos},
      {"{\"N\":\"Жук\xFF\"}", "", 12},
      {"\xEF\xBB\xBF{\"N\":\"\xFFЖ\"}", "", 9},
      {"{\"N\":\"Ж\xD0\"}", "", 8},  // a sequence cut short
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Bytes);
    if (c.Bad == std::string::npos) {
      EXPECT_EQ(ParseProjectBytes(c.Bytes)["N"], c.Name);
      continue;
    }
    try {
      ParseProjectBytes(c.Bytes);
      ADD_FAILURE() << "read without a complaint";
    } catch (const EJsonParse& e) {
      EXPECT_EQ(e.Offset, c.Bad);
      EXPECT_NE(std::string(e.what()).find("UTF-8"), std::string::npos) << e.what();
    }
    size_t bad = 0;
    std::string text = DecodeFileBytes(c.Bytes, &bad);
    EXPECT_EQ(bad, c.Bad);
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos);  // U+FFFD where the byte was
  }
}

TEST(ProjectText, Windows1251TableAgreesWithIconv) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int compared = 0;
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in[1] = {static_cast<char>(b)};
    char out[8];
    char* ip = in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) continue;  // undefined byte
    std::string mine;
    AppendUtf8(mine, Cp1251ToUnicode(static_cast<unsigned char>(b)));
    EXPECT_EQ(mine, std::string(out, op)) << "byte " << b;
    ++compared;
  }
  iconv_close(cd);
  EXPECT_GE(compared, 127);
}

TEST(ProjectText, EscapesSurrogatesAndDuplicates) {
  TJson v = ParseJsonText(R"({"a":"\ud83d\ude00","b":"\ud800x","a":"last"})");
  EXPECT_EQ(v.size(), 2u);
  EXPECT_EQ(v["a"], "last");  // a repeated name keeps its place and takes the last value
  EXPECT_EQ(v.begin().key(), "a");
  // A lone surrogate survives a read and a write unchanged.
  std::string text = WriteProjectText(v);
  EXPECT_NE(text.find("\\ud800x"), std::string::npos);
  EXPECT_EQ(ParseProjectBytes(text), v);
  EXPECT_EQ(ParseJsonText(R"("\ud83d\ude00")"), "\U0001F600");
}

TEST(ProjectText, LargeObjectsWithDuplicatesStayCorrect) {
  std::string text = "{";
  for (int i = 0; i < 1000; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k5\":-1}";
  TJson v = ParseJsonText(text);
  EXPECT_EQ(v.size(), 1000u);
  EXPECT_EQ(v["k5"], -1);
  EXPECT_EQ(v["k999"], 999);
}

TEST(ProjectText, RefusesDeepNestingWithoutCrashing) {
  EXPECT_THROW(ParseJsonText(std::string(100000, '[')), EJsonParse);
  std::string ok = std::string(500, '[') + std::string(500, ']');
  EXPECT_NO_THROW(ParseJsonText(ok));
}

// The public JSON parsing test suite: y_ files parse, n_ files are refused (apart from numbers
// that end in a decimal point, which project files use), nothing crashes.
TEST(ProjectText, JsonTestSuite) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(PELMORA_TESTDATA_DIR) / "JSONTestSuite" / "test_parsing";
  ASSERT_TRUE(fs::exists(dir)) << dir;
  const std::set<std::string> trailingPoint = {
      "n_number_real_without_fractional_part.json", "n_number_-2..json", "n_number_0.e1.json",
      "n_number_2.e3.json", "n_number_2.e+3.json", "n_number_2.e-3.json"};
  int y = 0, n = 0, i = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const std::string bytes = ReadFileBytes(entry.path().string());
    bool parsed = true;
    try {
      ParseProjectBytes(bytes);
    } catch (const EJsonParse&) {
      parsed = false;
    }
    if (name[0] == 'y') {
      EXPECT_TRUE(parsed) << name;
      ++y;
    } else if (name[0] == 'n') {
      EXPECT_EQ(parsed, trailingPoint.count(name) == 1) << name;
      ++n;
    } else {
      ++i;
    }
  }
  EXPECT_GT(y, 90);
  EXPECT_GT(n, 180);
  EXPECT_GT(i, 10);
}

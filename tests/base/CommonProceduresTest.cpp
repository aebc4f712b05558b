#include "base/CommonProcedures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

constexpr double OneMSec = 1.0 / MSecsPerDay;

TDateTime Hms(unsigned h, unsigned n, unsigned s, unsigned ms = 0) { return EncodeTime(h, n, s, ms); }

TDateTimeTextRules Rules(const std::string& format, bool emptyEnabled = false,
                         bool negativeEnable = false) {
  return {format, emptyEnabled, negativeEnable};
}

// Types the characters one by one at the end of the text.
std::string Type(const std::string& keys, const TFloatSpinRules& rules, std::string text = "",
                 char separator = '.') {
  for (char k : keys) text = SpinKeyPress(text, text.size(), k, rules, separator).Text;
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Calendar

TEST(CommonProceduresCalendar, DaysCountFromThe30thOfDecember1899) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2015, 11, 16), 42324);
  EXPECT_EQ(EncodeDate(2024, 3, 1) - EncodeDate(2024, 2, 28), 2);  // leap year
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1);
  EXPECT_EQ(DecodeDate(42324), (TDateParts{2015, 11, 16}));
}

TEST(CommonProceduresCalendar, ImpossibleDatesAndTimesAreRefused) {
  EXPECT_FALSE(TryEncodeDate(2024, 2, 31));
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1));
  EXPECT_FALSE(TryEncodeDate(2024, 4, 0));
  EXPECT_THROW(EncodeDate(2024, 4, 31), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_EQ(EncodeTime(23, 59, 59, 999), (MSecsPerDay - 1) / double(MSecsPerDay));
}

TEST(CommonProceduresCalendar, DatesBeforeDayZeroAreNegativeWithThePositiveTimeOfDay) {
  TDateTime v = EncodeDateTime(1899, 12, 29, 6, 0, 0, 0);
  EXPECT_EQ(v, -1.25);
  EXPECT_EQ(DecodeDate(v), (TDateParts{1899, 12, 29}));
  EXPECT_EQ(DecodeTime(v), (TTimeParts{6, 0, 0, 0}));
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 6, 0, 0, 0), 0.25);
  EXPECT_EQ(DecodeDate(-366), (TDateParts{1898, 12, 29}));
}

TEST(CommonProceduresCalendar, MillisecondsRoundTripExactly) {
  EXPECT_EQ(DecodeTime(EncodeTime(10, 20, 30, 450)), (TTimeParts{10, 20, 30, 450}));
  TDateTime day = EncodeDate(2024, 6, 30);
  for (unsigned ms = 0; ms < 1000; ++ms) {
    ASSERT_EQ(DecodeTime(EncodeTime(10, 20, 30, ms)).MSec, ms);
    ASSERT_EQ(DecodeTime(day + EncodeTime(23, 59, 59, ms)).MSec, ms);
  }
}

TEST(CommonProceduresCalendar, ATimeRoundingUpToMidnightBelongsToTheNextDay) {
  TDateTime v = EncodeDate(2024, 12, 31) + (MSecsPerDay - 0.4) * OneMSec;
  EXPECT_EQ(DecodeDate(v), (TDateParts{2025, 1, 1}));
  EXPECT_EQ(DecodeTime(v), (TTimeParts{0, 0, 0, 0}));
  EXPECT_EQ(DayCount(1 - 0.4 * OneMSec), 1);
  EXPECT_EQ(DayCount(2.75), 2);
}

TEST(CommonProceduresCalendar, ClockReadsThePresent) {
  TDateTime utc = NowUtc();
  EXPECT_GT(utc, EncodeDate(2020, 1, 1));
  EXPECT_LT(std::abs(Now() - utc), 1.0);  // a time zone is less than a day away
}

// ---------------------------------------------------------------------------------------------
// Formats

TEST(CommonProceduresFormat, FormatTypeFollowsTheLettersOfTheFormat) {
  EXPECT_EQ(FormatTypeOf("q hh:nn:ss"), fmt_DeltaTime);
  EXPECT_EQ(FormatTypeOf("Q HH:NN:SS"), fmt_DeltaTime);
  EXPECT_EQ(FormatTypeOf("hh:nn:ss,zzz"), fmt_Time);
  EXPECT_EQ(FormatTypeOf("dd.mm.yyyy"), fmt_Date);
  EXPECT_EQ(FormatTypeOf("mmmm yyyy"), fmt_Date);
  EXPECT_EQ(FormatTypeOf("dd/mm/yyyy hh:nn:ss,zzz"), fmt_DateTime);
  EXPECT_EQ(FormatTypeOf("DD.MM.YYYY HH"), fmt_DateTime);
}

TEST(CommonProceduresFormat, LettersAreReplacedAndOtherCharactersCopied) {
  TDateTime v = EncodeDateTime(2015, 11, 6, 7, 8, 9, 45);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss,zzz", v), "06/11/2015 07:08:09,045");
  EXPECT_EQ(FormatDateTime("d.m.yy h:n:s z", v), "6.11.15 7:8:9 45");
  EXPECT_EQ(FormatDateTime("mmmm yyyy", v), "November 2015");
  EXPECT_EQ(FormatDateTime("YYYYMMDD\"T\"HHNNSS", v), "20151106T070809");
  EXPECT_EQ(FormatDateTime("'hh' hh", v), "hh 07");
  EXPECT_EQ(FormatDateTime("q hh:nn:ss", 2 + Hms(1, 0, 0)), "2 01:00:00");
  EXPECT_EQ(FormatDateTime("q q", 3.5), "3 q");  // only the first "q" is the day count
}

TEST(CommonProceduresFormat, NormalisingResetsWhatTheFormatLacks) {
  TDateTime t = Hms(10, 20, 30, 450);
  EXPECT_EQ(NormaliseValue(t, Rules("hh:nn:ss")), Hms(10, 20, 30));
  EXPECT_EQ(NormaliseValue(t, Rules("hh:nn:ss,zzz")), t);
  EXPECT_EQ(NormaliseValue(42324 + t, Rules("hh:nn")), Hms(10, 20, 0));  // the date goes too
  EXPECT_EQ(NormaliseValue(42324 + t, Rules("dd.mm.yyyy")), 42324);
  EXPECT_EQ(NormaliseValue(42324 + t, Rules("mmmm yyyy")), EncodeDate(2015, 11, 1));
  EXPECT_EQ(NormaliseValue(42324 + t, Rules("dd.mm.yyyy hh:nn:ss")), 42324 + Hms(10, 20, 30));
  // A delta format keeps its days although it has no "d".
  EXPECT_EQ(NormaliseValue(2 + t, Rules("q hh:nn")), 2 + Hms(10, 20, 0));
  EXPECT_EQ(NormaliseValue(-(2 + t), Rules("q hh:nn:ss", false, true)), -(2 + Hms(10, 20, 30)));
  EXPECT_EQ(NormaliseValue(-t, Rules("hh:nn:ss", false, true)), -Hms(10, 20, 30));
  EXPECT_EQ(NormaliseValue(-1.25, Rules("dd.mm.yyyy")), -1);  // 29.12.1899 stays that date
}

TEST(CommonProceduresFormat, ValueToTextWritesTheSignInFrontOfTheAbsoluteValue) {
  TDateTime d = 2 + Hms(1, 0, 0);
  EXPECT_EQ(ValueToStr(d, Rules("q hh:nn:ss")), "2 01:00:00");
  EXPECT_EQ(ValueToStr(-d, Rules("q hh:nn:ss", false, true)), "-2 01:00:00");
  EXPECT_EQ(ValueToStr(-Hms(0, 30, 0), Rules("q hh:nn:ss", false, true)), "-0 00:30:00");
  EXPECT_EQ(ValueToStr(Hms(10, 20, 30, 450), Rules("hh:nn:ss")), "10:20:30");
  EXPECT_EQ(ValueToStr(Hms(10, 20, 30, 450), Rules("hh:nn:ss,zzz")), "10:20:30,450");
  EXPECT_EQ(ValueToStr(1, Rules("q hh:nn:ss")), "1 00:00:00");
}

TEST(CommonProceduresFormat, TextToValueByFormatType) {
  auto delta = Rules("q hh:nn:ss");
  EXPECT_EQ(StrToValue("2 01:00:00", delta).Value, 2 + Hms(1, 0, 0));
  EXPECT_EQ(StrToValue("-2 01:00:00", delta).Value, -(2 + Hms(1, 0, 0)));
  EXPECT_EQ(StrToValue("10:20:30.450", Rules("hh:nn:ss")).Value, Hms(10, 20, 30));
  EXPECT_EQ(StrToValue("00:01:30,500", Rules("hh:nn:ss,zzz")).Value, Hms(0, 1, 30, 500));
  EXPECT_EQ(StrToValue("-00:01:30", Rules("hh:nn:ss", false, true)).Value, -Hms(0, 1, 30));
  EXPECT_EQ(StrToValue("16.11.2015", Rules("dd.mm.yyyy")).Value, 42324);
  EXPECT_EQ(StrToValue("16.11.2015 06:00:00", Rules("dd.mm.yyyy hh:nn:ss")).Value,
            42324.25);
  EXPECT_TRUE(StrToValue("16.11.2015 06:00:00", Rules("dd.mm.yyyy")).Error);  // a date only
  EXPECT_FALSE(StrToValue("16.11.2015", Rules("dd.mm.yyyy")).IsEmpty);
}

TEST(CommonProceduresFormat, TextsThatDoNotParseKeepThePreviousValue) {
  auto r = StrToValue("", Rules("q hh:nn:ss"), 7);
  ASSERT_TRUE(r.Error);
  EXPECT_EQ(*r.Error, "\"\" is not valid time. Will use the previous valid value");
  EXPECT_EQ(r.Value, 7);
  EXPECT_FALSE(r.IsEmpty);
  EXPECT_EQ(*StrToValue("31.02.2024", Rules("dd.mm.yyyy"), 5).Error,
            "\"31.02.2024\" is not valid date. Will use the previous valid value");
  EXPECT_EQ(*StrToValue("x", Rules("dd/mm/yyyy hh:nn:ss")).Error,
            "\"x\" is not valid date and time. Will use the previous valid value");
  EXPECT_EQ(*StrToValue("25:00:00", Rules("hh:nn:ss")).Error,
            "\"25:00:00\" is not valid time. Will use the previous valid value");
  EXPECT_TRUE(StrToValue("-00:01:30", Rules("hh:nn:ss")).Error);  // negatives not enabled
  EXPECT_TRUE(StrToValue("   ", Rules("hh:nn:ss")).Error);
}

TEST(CommonProceduresFormat, BlankTextIsTheEmptyStateWhenEnabled) {
  auto r = StrToValue("  ", Rules("q hh:nn:ss", true), 3);
  EXPECT_TRUE(r.IsEmpty);
  EXPECT_FALSE(r.Error);
  EXPECT_EQ(r.Value, 0);
  EXPECT_TRUE(StrToValue("", Rules("dd.mm.yyyy", true)).IsEmpty);
}

// ---------------------------------------------------------------------------------------------
// Time, duration and date texts

TEST(CommonProceduresDuration, DaysThenTimeWithBlanksCollapsed) {
  TDateTime d = 2 + Hms(1, 0, 0);
  EXPECT_EQ(StrToDeltaTime("2 01:00:00"), d);
  EXPECT_EQ(StrToDeltaTime("   2     01:00:00  "), d);
  EXPECT_EQ(StrToDeltaTime("-2 01:00:00"), -d);
  EXPECT_EQ(StrToDeltaTime("  -   2 01:00:00"), -d);
  EXPECT_EQ(StrToDeltaTime("01:00:00"), Hms(1, 0, 0));
  EXPECT_EQ(StrToDeltaTime("0 00:00:01,250"), Hms(0, 0, 1, 250));
}

TEST(CommonProceduresDuration, EmptyAndMalformedDurations) {
  for (const char* text : {"", "   ", "-", " -  "}) {
    try {
      StrToDeltaTime(text);
      ADD_FAILURE() << "no error for \"" << text << "\"";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Empty time value");
    }
  }
  for (const char* text : {"x 01:00:00", "2 25:00:00", "2 01:60:00", "2 01:00:60", "1.5 01:00",
                           "2 -01:00:00", "01:00:00 x", "2 01", "abc"}) {
    EXPECT_THROW(StrToDeltaTime(text), EConvertError) << text;
  }
}

TEST(CommonProceduresDuration, DurationTextsRoundTrip) {
  EXPECT_EQ(DeltaTimeToStr(1), "1 00:00:00");
  EXPECT_EQ(DeltaTimeToStr(0), "0 00:00:00");
  EXPECT_EQ(DeltaTimeToStr(-0.5), "-0 12:00:00");
  for (TDateTime v : {0.0, 1.0, 2 + Hms(1, 2, 3), 31 + Hms(23, 59, 59), -(3 + Hms(4, 5, 6))})
    EXPECT_EQ(StrToDeltaTime(DeltaTimeToStr(v)), v);
}

TEST(CommonProceduresDuration, FilmDurationsKeepMilliseconds) {
  EXPECT_EQ(StrToTime("00:01:30,500"), Hms(0, 1, 30, 500));
  EXPECT_EQ(StrToTime("00:01:30.500"), Hms(0, 1, 30, 500));
  EXPECT_EQ(StrToTime("00:01:30,5"), Hms(0, 1, 30, 500));  // a fraction of a second
  EXPECT_EQ(StrToTime("00:01:30,045"), Hms(0, 1, 30, 45));
  EXPECT_EQ(StrToTime("10:20"), Hms(10, 20, 0));
  EXPECT_EQ(FilmDurationToStr(StrToTime("01:32:07,045")), "01:32:07,045");
  EXPECT_EQ(FilmDurationToStr(0), "00:00:00,000");
  EXPECT_EQ(TimeToStr(Hms(1, 32, 7, 999)), "01:32:07");
  for (const char* text : {"", "10", "10:", "10:20:", "10:20:30,", "1:2:3:4", "24:00:00", "a:b"})
    EXPECT_THROW(StrToTime(text), EConvertError) << text;
}

TEST(CommonProceduresDuration, DisplayShowsDaysFromOneDayOn) {
  EXPECT_EQ(DurationToDisplayStr(0), "00:00:00");
  EXPECT_EQ(DurationToDisplayStr(Hms(23, 59, 59)), "23:59:59");
  EXPECT_EQ(DurationToDisplayStr(1), "1 00:00:00");
  EXPECT_EQ(DurationToDisplayStr(1 - 0.4 * OneMSec), "1 00:00:00");
  EXPECT_EQ(DurationToDisplayStr(30 + Hms(1, 30, 0)), "30 01:30:00");
  EXPECT_EQ(DurationToDisplayStr(-Hms(1, 0, 0)), "-01:00:00");
}

TEST(CommonProceduresDates, DateTextsFormatAndParse) {
  EXPECT_EQ(DateToStr(EncodeDate(2024, 2, 29)), "29.02.2024");
  EXPECT_EQ(StrToDate("29.02.2024"), EncodeDate(2024, 2, 29));
  EXPECT_EQ(StrToDate(" 1/2/2024 "), EncodeDate(2024, 2, 1));
  EXPECT_EQ(StrToDate("05.03.24"), EncodeDate(2024, 3, 5));
  EXPECT_EQ(DateTimeToStr(42324.25), "16.11.2015 06:00:00");
  EXPECT_EQ(StrToDateTime("16.11.2015 06:00:00"), 42324.25);
  EXPECT_EQ(StrToDateTime("16.11.2015"), 42324);
  EXPECT_EQ(StrToDateTime("29.12.1899 06:00:00"), -1.25);
  for (const char* text : {"31.02.2024", "29.02.2023", "1.13.2024", "00.01.2024", "12.2024",
                           "12.01.2024x", "12-01-2024", "12.01.024", "", "123.01.2024"})
    EXPECT_THROW(StrToDate(text), EConvertError) << text;
  EXPECT_THROW(StrToDateTime("16.11.2015 25:00:00"), EConvertError);
}

TEST(CommonProceduresDates, CompactStamp) {
  EXPECT_EQ(DateTimeToStamp(EncodeDateTime(2015, 11, 16, 6, 0, 0, 0)), "20151116T060000");
  EXPECT_EQ(DateTimeToStamp(0), "18991230T000000");
  EXPECT_EQ(StampToDateTime("20151116T060000"), 42324.25);
  for (const char* text : {"20151116 060000", "20150231T000000", "20151116T240000",
                           "20151116T06000", "2015111aT060000"})
    EXPECT_THROW(StampToDateTime(text), EConvertError) << text;
}

// ---------------------------------------------------------------------------------------------
// Numbers of the float spin edit

TEST(CommonProceduresSpin, RoundingHalvesToEvenOnTheExactBinaryValue) {
  EXPECT_EQ(RoundToPrecision(2.5, 0), 2);
  EXPECT_EQ(RoundToPrecision(3.5, 0), 4);
  EXPECT_EQ(RoundToPrecision(-2.5, 0), -2);
  EXPECT_EQ(RoundToPrecision(0.125, -2), 0.12);
  EXPECT_EQ(RoundToPrecision(0.375, -2), 0.38);
  // 0.015 is slightly below and 0.025 slightly above their halves, though 100 times either
  // gives exactly 1.5 and 2.5 in binary.
  EXPECT_EQ(RoundToPrecision(0.015, -2), 0.01);
  EXPECT_EQ(RoundToPrecision(0.025, -2), 0.03);
  EXPECT_EQ(RoundToPrecision(1.23456, -3), 1.235);
  EXPECT_EQ(RoundToPrecision(1250, 2), 1200);
  EXPECT_EQ(RoundToPrecision(1350, 2), 1400);
  EXPECT_EQ(RoundToPrecision(1234.5, 1), 1230);
  EXPECT_EQ(RoundToPrecision(1e300, -2), 1e300);
}

TEST(CommonProceduresSpin, SettingTheValueClampsBeforeRounding) {
  TFloatSpinRules rules{.MinValue = 1, .MaxValue = 999, .Precision = 0};
  EXPECT_EQ(SpinValue(1000, rules), 999);
  EXPECT_EQ(SpinValue(0.2, rules), 1);
  EXPECT_EQ(SpinValue(2.5, rules), 2);
  TFloatSpinRules fine{.MinValue = 0, .MaxValue = 10.004, .Precision = -2};
  EXPECT_EQ(SpinValue(10.0045, fine), 10.004);  // above the limit before rounding
  EXPECT_EQ(SpinValue(10.0035, fine), 10.0);
  TFloatSpinRules unlimited{.MinValue = 5, .MaxValue = 5};
  EXPECT_EQ(SpinValue(-123.456, unlimited), -123.46);
}

TEST(CommonProceduresSpin, TextIsTheShortestDecimalOfTheRoundedValue) {
  EXPECT_EQ(SpinValueText(0, -2), "0");
  EXPECT_EQ(SpinValueText(0.125, -2), "0.12");
  EXPECT_EQ(SpinValueText(0.1 + 0.2, -2), "0.3");
  EXPECT_EQ(SpinValueText(1234.5, -2, ','), "1234,5");
  EXPECT_EQ(SpinValueText(-0.001, -2), "0");
  EXPECT_EQ(SpinValueText(-7.777, -1), "-7.8");
  EXPECT_EQ(SpinValueText(1e20, 0), "100000000000000000000");
}

TEST(CommonProceduresSpin, ReadingTakesTheTextUpToItsLastNumberCharacter) {
  EXPECT_EQ(SpinTextToValue("12.5", 9), 12.5);
  EXPECT_EQ(SpinTextToValue("12.5 kg", 9), 12.5);
  EXPECT_EQ(SpinTextToValue(" -3 ", 9), -3);
  EXPECT_EQ(SpinTextToValue("+3", 9), 3);
  EXPECT_EQ(SpinTextToValue(".5", 9), 0.5);
  EXPECT_EQ(SpinTextToValue("12,5", 9, ','), 12.5);
  for (const char* text : {"", "abc", "-", "1-2", "1.2.3", "12.5", "x5"}) {
    char sep = std::string(text) == "12.5" ? ',' : '.';
    EXPECT_EQ(SpinTextToValue(text, 9, sep), 9) << text;
  }
}

TEST(CommonProceduresSpin, TypingRespectsDigitsAndDecimals) {
  TFloatSpinRules rules{.Precision = -2, .Digits = 2};
  EXPECT_EQ(Type("123", rules), "12");
  EXPECT_EQ(Type("12.345", rules), "12.34");
  EXPECT_EQ(Type("1,5", rules), "1.5");  // either separator key gives the separator
  EXPECT_EQ(Type("1.5.", rules), "1.5");
  EXPECT_EQ(Type("1.5", rules, "", ','), "1,5");
  EXPECT_EQ(Type("-123", rules), "-12");
  EXPECT_EQ(Type("05", rules), "5");  // the leading zero goes
  EXPECT_EQ(Type("5", rules, "-0"), "-5");
  EXPECT_EQ(Type("a+ 1", rules), "1");
  TFloatSpinRules whole{.Precision = 0, .Digits = 3};
  EXPECT_EQ(Type("1.2", whole), "12");
}

TEST(CommonProceduresSpin, MinusOnlyAtTheStartWhenNegativesArePossible) {
  TFloatSpinRules unlimited{};
  EXPECT_TRUE(SpinKeyPress("", 0, '-', unlimited).Accepted);
  EXPECT_FALSE(SpinKeyPress("5", 1, '-', unlimited).Accepted);
  EXPECT_FALSE(SpinKeyPress("-5", 0, '-', unlimited).Accepted);
  EXPECT_FALSE(SpinKeyPress("5", 0, '-', TFloatSpinRules{.MinValue = 0, .MaxValue = 10}).Accepted);
  EXPECT_TRUE(SpinKeyPress("5", 0, '-', TFloatSpinRules{.MinValue = -1, .MaxValue = 10}).Accepted);
  EXPECT_FALSE(SpinKeyPress("-5", 0, '7', unlimited).Accepted);  // a digit before the minus
  auto r = SpinKeyPress("5", 0, '-', unlimited);
  EXPECT_EQ(r.Text, "-5");
  EXPECT_EQ(r.Caret, 1u);
}

TEST(CommonProceduresSpin, ControlKeys) {
  TFloatSpinRules rules{};
  EXPECT_FALSE(SpinKeyPress("12", 2, '\r', rules).Accepted);
  auto back = SpinKeyPress("12", 2, '\b', rules);
  EXPECT_TRUE(back.Accepted);
  EXPECT_EQ(back.Text, "1");
  EXPECT_TRUE(SpinKeyPress("12", 2, '\x03', rules).Accepted);  // copy
  TFloatSpinRules disabled{.EditorEnabled = false};
  EXPECT_FALSE(SpinKeyPress("12", 2, '\b', disabled).Accepted);
  EXPECT_FALSE(SpinKeyPress("1", 1, '2', disabled).Accepted);
  EXPECT_EQ(SpinKeyPress("1", 1, '2', disabled).Text, "1");
}

// ---------------------------------------------------------------------------------------------
// Text encodings

TEST(CommonProceduresText, Utf8AndUtf16) {
  std::string text = "Пароль \xF0\x9F\x98\x80!";  // Cyrillic and U+1F600
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Пароль \U0001F600!");
  EXPECT_EQ(wide.size(), 10u);  // the emoji is a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

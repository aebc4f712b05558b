#pragma once
// Date, time, duration and number texts of the console.
//
// A TDateTime counts days since 1899-12-30; the fraction is the time of day. A date before
// 1899-12-30 is negative: its integral part (truncated towards zero) is the day and the
// absolute value of its fraction is the time of day, so 1899-12-29 06:00 is -1.25. Durations
// use the same number: a duration is a number of days.
//
// Errors: the low-level parsers (StrToTime, StrToDate, StrToDateTime, StrToDeltaTime,
// StampToDateTime, EncodeDate, EncodeTime) throw EConvertError. StrToValue, the conversion of
// the date-time edit, never throws: it returns a TStrToValueResult whose Error holds the text
// to show in an "Error" message box, and whose Value is then the previous value.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

using TDateTime = double;

inline constexpr int64_t MSecsPerDay = 86400000;

class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Calendar

struct TDateParts {
  int Year = 0;
  unsigned Month = 1;
  unsigned Day = 1;
  bool operator==(const TDateParts&) const = default;
};

struct TTimeParts {
  unsigned Hour = 0;
  unsigned Min = 0;
  unsigned Sec = 0;
  unsigned MSec = 0;
  bool operator==(const TTimeParts&) const = default;
};

// Day number of a valid civil date; nothing for an impossible one (31.02.2024, month 13).
std::optional<TDateTime> TryEncodeDate(int year, unsigned month, unsigned day);
TDateTime EncodeDate(int year, unsigned month, unsigned day);  // throws EConvertError
// Fraction of a day; hours 0..23, minutes and seconds 0..59, milliseconds 0..999.
std::optional<TDateTime> TryEncodeTime(unsigned hour, unsigned min, unsigned sec, unsigned msec);
TDateTime EncodeTime(unsigned hour, unsigned min, unsigned sec, unsigned msec);  // throws
// Date plus time; before 1899-12-30 the time is subtracted (see the top of this file).
TDateTime EncodeDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned min,
                         unsigned sec, unsigned msec);

// Decoding rounds the time of day to the nearest millisecond; a time that rounds up to 24:00
// belongs to the next day, so DecodeDate and DecodeTime of one value always agree.
TDateParts DecodeDate(TDateTime value);
TTimeParts DecodeTime(TDateTime value);
// Whole days of the value (truncated towards zero, carried like DecodeDate).
int64_t DayCount(TDateTime value);
// Day of the week of a day number, Monday 0 ... Sunday 6 (1899-12-30 was a Saturday).
int DayOfWeekMon0(int64_t day);
// Days in a month of a year (1..12).
unsigned DaysInMonth(int year, unsigned month);
// Short day names, Monday 0 ... Sunday 6: "Mon" ... "Sun".
const std::string& ShortDayName(int mondayBased);
// Day names, Monday 0 ... Sunday 6: "Monday" ... "Sunday".
const std::string& LongDayName(int mondayBased);

// The clock, as local time and as UTC.
TDateTime Now();
TDateTime NowUtc();

// ---------------------------------------------------------------------------------------------
// Formats

enum TFormatType { fmt_Time, fmt_Date, fmt_DateTime, fmt_DeltaTime };

// Compared in lower case: "q" makes a delta format; without "y", "m" and "d" a time; with "h"
// or "n" a date and time; otherwise a date.
TFormatType FormatTypeOf(const std::string& format);

// Letters (case-insensitive): "yyyy" (or "yy"), "mmmm" (month name), "mmm" (short month
// name), "mm"/"m" month, "dd"/"d" day, "hh"/"h" hours, "nn"/"n" minutes, "ss"/"s" seconds,
// "zzz"/"z" milliseconds, and the first "q": the whole number of days of the value. Text in
// double or single quotes and every other character are copied ("/" and ":" as they are).
std::string FormatDateTime(const std::string& format, TDateTime value);

// The settings of a date-time edit that decide its texts.
struct TDateTimeTextRules {
  std::string Format = "dd/mm/yyyy hh:nn:ss,zzz";
  bool EmptyEnabled = false;    // an empty text is the empty state
  bool NegativeEnable = false;  // negative values are shown and read with a leading "-"
  TFormatType FormatType() const { return FormatTypeOf(Format); }
};

// Resets every component the format lacks (month and day to 1, the others to 0; a delta format
// keeps its days and checks only the time letters), so a format without "zzz" drops the
// milliseconds. With NegativeEnable a negative value keeps its sign.
TDateTime NormaliseValue(TDateTime value, const TDateTimeTextRules& rules);

// The text of a value; with NegativeEnable a negative value is "-" and the text of its
// absolute value.
std::string ValueToStr(TDateTime value, const TDateTimeTextRules& rules);

struct TStrToValueResult {
  TDateTime Value = 0;  // normalised value; the previous value when Error is set
  bool IsEmpty = false;  // the empty state (value 0)
  std::optional<std::string> Error;  // "\"<text>\" is not valid <kind>. Will use ..."
};

// Reads a text by the rules' format type: a time (a leading "-" allowed with NegativeEnable),
// a date, a date and time, or a duration (StrToDeltaTime). With all blanks removed an empty
// text is the empty state when EmptyEnabled, otherwise it is not valid.
TStrToValueResult StrToValue(const std::string& text, const TDateTimeTextRules& rules,
                             TDateTime previous = 0);

// "\"" + text + "\" is not valid " + kind + ". Will use the previous valid value"
std::string NotValidMessage(const std::string& text, TFormatType type);

// ---------------------------------------------------------------------------------------------
// Time, duration and date texts

// A time of day "h:n", "h:n:s" or "h:n:s" followed by "," or "." and a fraction of a second
// (rounded to milliseconds), whatever the locale: "00:01:30,500". Surrounding blanks ignored.
TDateTime StrToTime(const std::string& text);
// "hh:nn:ss"
std::string TimeToStr(TDateTime value);

// The duration parser: runs of blanks count as one, leading (and trailing) blanks are dropped,
// a leading "-" with any blanks after it makes the result negative; an empty remainder throws
// "Empty time value". Text before the first blank is the whole number of days, the rest the
// time of day ("2 01:00:00" is two days and one hour); without a blank the days are 0.
TDateTime StrToDeltaTime(const std::string& text);
// "q hh:nn:ss" ("1 00:00:00"), a negative value with a leading "-".
std::string DeltaTimeToStr(TDateTime value);
// "hh:nn:ss,zzz", the length of a film ("01:32:07,045"); read back with StrToTime.
std::string FilmDurationToStr(TDateTime value);
// A media time in milliseconds by a player pattern: "dd" whole days, "hh" hours within the
// day, "mm" minutes, "ss" seconds (two digits each), "mcs" milliseconds (three digits); every
// other character is copied. "hh:mm:ss,mcs" gives 01:32:07,045. A negative time (libvlc's
// "not known") reads as zero.
std::string MediaTimeToStr(const std::string& pattern, int64_t msec);
// For display: from one day on the whole number of days, a blank and "hh:nn:ss"; below one
// day "hh:nn:ss" (zero is "00:00:00"); a negative value with a leading "-".
std::string DurationToDisplayStr(TDateTime value);

// Dates are read day, month, year, separated by "." or "/"; a year of one or two digits is in
// 2000..2099, otherwise the year has four digits. Impossible dates are refused.
TDateTime StrToDate(const std::string& text);
// A date, then optionally one or more blanks and a time (StrToTime).
TDateTime StrToDateTime(const std::string& text);
std::string DateToStr(TDateTime value);      // "dd.mm.yyyy"
std::string DateTimeToStr(TDateTime value);  // "dd.mm.yyyy hh:nn:ss"

// The compact stamp "yyyymmddThhnnss" (20151116T060000) and its reverse.
std::string DateTimeToStamp(TDateTime value);
TDateTime StampToDateTime(const std::string& stamp);

// ---------------------------------------------------------------------------------------------
// Numbers of the float spin edit

struct TFloatSpinRules {
  double MinValue = 0;  // equal limits mean no limits
  double MaxValue = 0;
  double DefValue = 0;  // the value of a text that is not a number
  int Precision = -2;   // the power of ten values are rounded to
  int Digits = 2;       // characters that may be typed before a decimal separator
  bool EditorEnabled = true;
  bool HasLimits() const { return MinValue != MaxValue; }
  bool NegativeAllowed() const { return !HasLimits() || MinValue < 0; }
};

// The nearest multiple of 10^precision, halves to even, decided on the exact binary value
// (0.125 at -2 is 0.12, 0.375 is 0.38).
double RoundToPrecision(double value, int precision);

// Setting the value: rounded to Precision; when the limits differ a number below MinValue is
// MinValue and one above MaxValue is MaxValue (compared before rounding).
double SpinValue(double value, const TFloatSpinRules& rules);

// The shortest decimal text of the value rounded to precision, with the given separator.
std::string SpinValueText(double value, int precision, char separator = '.');

// Reading the value: the text up to and including its last character among "+", "-", the
// digits and the separator; when that is not a plain decimal number (blanks around it
// allowed) the result is defValue.
double SpinTextToValue(const std::string& text, double defValue, char separator = '.');

struct TSpinKeyResult {
  bool Accepted = false;
  std::string Text;  // the text after the key (unchanged when refused)
  size_t Caret = 0;  // byte position of the caret after the key
};

// A typed character: "," and "." become the separator (only with a negative Precision and no
// separator yet); "-" only when negative values are possible, at the start and once; digits
// drop a leading "0" when there is no separator, are refused at the start of a text with "-",
// and may make the text at most Digits characters long (one more with "-"), or once it has a
// separator, at most the separator's position plus the decimals of Precision. Control
// characters pass except Enter, and except Backspace when the editor is disabled; a disabled
// editor refuses every printable character.
TSpinKeyResult SpinKeyPress(const std::string& text, size_t caret, char key,
                            const TFloatSpinRules& rules, char separator = '.');

// ---------------------------------------------------------------------------------------------
// Text encodings

// UTF-8 to UTF-16 code units and back; invalid sequences and lone surrogates become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

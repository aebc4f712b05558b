#include "base/CommonProcedures.h"

#include <fmt/format.h>

#include <array>
#include <cstring>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

#include "base/StrUtils.h"

namespace {

using namespace std::chrono;

constexpr sys_days DayZero = sys_days{year{1899} / December / 30};
constexpr double TwoPow52 = 4503599627370496.0;

const std::array<const char*, 12> MonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// A value split into its calendar day and the milliseconds of its time of day.
struct TDayAndMSec {
  int64_t Day;
  int64_t MSec;
};

TDayAndMSec SplitValue(TDateTime value) {
  double whole = 0;
  double frac = std::modf(value, &whole);
  TDayAndMSec r{static_cast<int64_t>(whole), std::llround(std::fabs(frac) * MSecsPerDay)};
  if (r.MSec >= MSecsPerDay) {  // 23:59:59.9996 is already the next day
    r.MSec -= MSecsPerDay;
    ++r.Day;
  }
  return r;
}

TDateParts DateOfDay(int64_t day) {
  year_month_day ymd{DayZero + days{day}};
  return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
          static_cast<unsigned>(ymd.day())};
}

TTimeParts TimeOfMSec(int64_t msec) {
  return {static_cast<unsigned>(msec / 3600000), static_cast<unsigned>(msec / 60000 % 60),
          static_cast<unsigned>(msec / 1000 % 60), static_cast<unsigned>(msec % 1000)};
}

TDateTime MSecToTime(int64_t msec) { return static_cast<double>(msec) / MSecsPerDay; }

// A date and a time of day as one value; before day zero the time counts backwards.
TDateTime Combine(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Texts of dates and durations are trimmed of blanks only.
std::string TrimBlanks(const std::string& s) { return Trim(s, " "); }

[[noreturn]] void ThrowInvalid(const std::string& text, const char* kind) {
  throw EConvertError(fmt::format("\"{}\" is not a valid {}", text, kind));
}

// Reads 1..maxDigits decimal digits at pos.
bool ReadNumber(const std::string& s, size_t& pos, unsigned& value, size_t maxDigits = 9) {
  size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos]) && pos - start < maxDigits)
    value = value * 10 + static_cast<unsigned>(s[pos++] - '0');
  return pos > start && (pos == s.size() || !IsDigit(s[pos]));
}

// The whole text as an unsigned decimal number.
bool ReadWholeNumber(const std::string& s, unsigned& value) {
  size_t pos = 0;
  return ReadNumber(s, pos, value) && pos == s.size();
}

// A leading "-" with NegativeEnable makes the time negative.
TDateTime ReadSignedTime(const std::string& text, bool negativeEnable) {
  std::string s = TrimBlanks(text);
  if (negativeEnable && !s.empty() && s[0] == '-') return -StrToTime(s.substr(1));
  return StrToTime(s);
}

const char* KindOf(TFormatType type) {
  switch (type) {
    case fmt_Date: return "date";
    case fmt_DateTime: return "date and time";
    default: return "time";
  }
}

// The exact value is x plus something with the sign of excess, far below one unit of x.
double RoundHalfEven(double x, double excess) {
  double f = std::floor(x);
  double d = x - f;
  if (d > 0.5) return f + 1;
  if (d < 0.5) return f;
  if (excess != 0) return excess > 0 ? f + 1 : f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

double Pow10(int n) {
  double r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Calendar

std::optional<TDateTime> TryEncodeDate(int y, unsigned m, unsigned d) {
  if (m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
  year_month_day ymd{year{y}, month{m}, day{d}};
  if (!ymd.ok()) return std::nullopt;
  return static_cast<double>((sys_days{ymd} - DayZero).count());
}

TDateTime EncodeDate(int y, unsigned m, unsigned d) {
  if (auto r = TryEncodeDate(y, m, d)) return *r;
  throw EConvertError("Invalid argument to date encode");
}

std::optional<TDateTime> TryEncodeTime(unsigned h, unsigned n, unsigned s, unsigned ms) {
  if (h > 23 || n > 59 || s > 59 || ms > 999) return std::nullopt;
  return MSecToTime(int64_t{h} * 3600000 + int64_t{n} * 60000 + int64_t{s} * 1000 + ms);
}

TDateTime EncodeTime(unsigned h, unsigned n, unsigned s, unsigned ms) {
  if (auto r = TryEncodeTime(h, n, s, ms)) return *r;
  throw EConvertError("Invalid argument to time encode");
}

TDateTime EncodeDateTime(int y, unsigned m, unsigned d, unsigned h, unsigned n, unsigned s,
                         unsigned ms) {
  return Combine(EncodeDate(y, m, d), EncodeTime(h, n, s, ms));
}

TDateParts DecodeDate(TDateTime value) { return DateOfDay(SplitValue(value).Day); }

TTimeParts DecodeTime(TDateTime value) { return TimeOfMSec(SplitValue(value).MSec); }

int64_t DayCount(TDateTime value) { return SplitValue(value).Day; }

int DayOfWeekMon0(int64_t day) { return static_cast<int>(((day % 7) + 7 + 5) % 7); }

unsigned DaysInMonth(int year, unsigned month) {
  if (month < 1 || month > 12) throw EConvertError("Invalid month " + std::to_string(month));
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

const std::string& ShortDayName(int mondayBased) {
  static const std::string names[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  return names[((mondayBased % 7) + 7) % 7];
}

const std::string& LongDayName(int mondayBased) {
  static const std::string names[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                      "Friday", "Saturday", "Sunday"};
  return names[((mondayBased % 7) + 7) % 7];
}

TDateTime NowUtc() {
  auto ms = duration_cast<milliseconds>(system_clock::now() - DayZero).count();
  return MSecToTime(ms);
}

TDateTime Now() {
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm lt{};
#ifdef _WIN32
  localtime_s(&lt, &t);
#else
  localtime_r(&t, &lt);
#endif
  return EncodeDateTime(lt.tm_year + 1900, static_cast<unsigned>(lt.tm_mon + 1),
                        static_cast<unsigned>(lt.tm_mday), static_cast<unsigned>(lt.tm_hour),
                        static_cast<unsigned>(lt.tm_min),
                        static_cast<unsigned>(std::min(lt.tm_sec, 59)),
                        static_cast<unsigned>(ms < 0 ? 0 : ms));
}

// ---------------------------------------------------------------------------------------------
// Formats

TFormatType FormatTypeOf(const std::string& format) {
  std::string f = LowerCase(format);
  auto has = [&](char c) { return f.find(c) != std::string::npos; };
  if (has('q')) return fmt_DeltaTime;
  if (!has('y') && !has('m') && !has('d')) return fmt_Time;
  if (has('h') || has('n')) return fmt_DateTime;
  return fmt_Date;
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  TDayAndMSec split = SplitValue(value);
  TDateParts dp = DateOfDay(split.Day);
  TTimeParts tp = TimeOfMSec(split.MSec);
  auto number = [](unsigned v, size_t run, size_t padTo) {
    return run >= 2 ? fmt::format("{:0{}}", v, padTo) : std::to_string(v);
  };
  std::string out;
  bool daysWritten = false;
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c == '"' || c == '\'') {  // quoted text is copied without its quotes
      size_t end = format.find(c, i + 1);
      if (end == std::string::npos) end = format.size();
      out.append(format, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    char lc = LowerCase(std::string(1, c))[0];
    size_t run = 1;
    while (i + run < format.size() && LowerCase(std::string(1, format[i + run]))[0] == lc) ++run;
    switch (lc) {
      case 'y':
        out += run >= 3 ? fmt::format("{:04}", dp.Year)
                        : fmt::format("{:02}", ((dp.Year % 100) + 100) % 100);
        break;
      case 'm':
        if (run >= 4) out += MonthNames[dp.Month - 1];
        else if (run == 3) out += std::string(MonthNames[dp.Month - 1]).substr(0, 3);
        else out += number(dp.Month, run, 2);
        break;
      case 'd': out += number(dp.Day, run, 2); break;
      case 'h': out += number(tp.Hour, run, 2); break;
      case 'n': out += number(tp.Min, run, 2); break;
      case 's': out += number(tp.Sec, run, 2); break;
      case 'z': out += run >= 3 ? fmt::format("{:03}", tp.MSec) : std::to_string(tp.MSec); break;
      case 'q':
        run = 1;  // only the first "q" is the day count; later ones are copied
        if (daysWritten) {
          out += c;
        } else {
          out += std::to_string(split.Day);
          daysWritten = true;
        }
        break;
      default: out.append(format, i, run); break;
    }
    i += run;
  }
  return out;
}

TDateTime NormaliseValue(TDateTime value, const TDateTimeTextRules& rules) {
  bool negative = rules.NegativeEnable && value < 0;
  TDateTime v = negative ? -value : value;
  TFormatType type = rules.FormatType();
  std::string f = LowerCase(rules.Format);
  auto has = [&](char c) { return f.find(c) != std::string::npos; };
  TDayAndMSec split = SplitValue(v);
  TDateParts dp = DateOfDay(split.Day);
  TTimeParts tp = TimeOfMSec(split.MSec);
  if (type != fmt_DeltaTime) {
    if (!has('y')) dp.Year = 0;
    if (!has('m')) dp.Month = 1;
    if (!has('d')) dp.Day = 1;
  }
  if (!has('h')) tp.Hour = 0;
  if (!has('n')) tp.Min = 0;
  if (!has('s')) tp.Sec = 0;
  if (!has('z')) tp.MSec = 0;
  TDateTime time = EncodeTime(tp.Hour, tp.Min, tp.Sec, tp.MSec);
  TDateTime r = 0;
  switch (type) {
    case fmt_Time: r = time; break;
    case fmt_Date: r = EncodeDate(dp.Year, dp.Month, dp.Day); break;
    case fmt_DateTime: r = Combine(EncodeDate(dp.Year, dp.Month, dp.Day), time); break;
    case fmt_DeltaTime: r = Combine(static_cast<double>(split.Day), time); break;
  }
  return negative ? -r : r;
}

std::string ValueToStr(TDateTime value, const TDateTimeTextRules& rules) {
  if (rules.NegativeEnable && value < 0) return "-" + FormatDateTime(rules.Format, -value);
  return FormatDateTime(rules.Format, value);
}

std::string NotValidMessage(const std::string& text, TFormatType type) {
  return "\"" + text + "\" is not valid " + KindOf(type) + ". Will use the previous valid value";
}

TStrToValueResult StrToValue(const std::string& text, const TDateTimeTextRules& rules,
                             TDateTime previous) {
  TStrToValueResult r;
  if (rules.EmptyEnabled && text.find_first_not_of(' ') == std::string::npos) {
    r.IsEmpty = true;
    return r;
  }
  TFormatType type = rules.FormatType();
  try {
    TDateTime v = 0;
    switch (type) {
      case fmt_Time: v = ReadSignedTime(text, rules.NegativeEnable); break;
      case fmt_Date: v = StrToDate(text); break;
      case fmt_DateTime: v = StrToDateTime(text); break;
      case fmt_DeltaTime: v = StrToDeltaTime(text); break;
    }
    r.Value = NormaliseValue(v, rules);
  } catch (const EConvertError&) {
    r.Value = previous;
    r.Error = NotValidMessage(text, type);
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Time, duration and date texts

TDateTime StrToTime(const std::string& text) {
  std::string s = TrimBlanks(text);
  size_t pos = 0;
  unsigned h = 0, n = 0, sec = 0;
  int64_t msec = 0;
  auto separator = [&](char c) { return pos < s.size() && s[pos] == c && ++pos; };
  if (!ReadNumber(s, pos, h) || !separator(':') || !ReadNumber(s, pos, n)) ThrowInvalid(text, "time");
  if (separator(':')) {
    if (!ReadNumber(s, pos, sec)) ThrowInvalid(text, "time");
    if (separator(',') || separator('.')) {
      size_t start = pos;
      unsigned digits = 0;
      if (!ReadNumber(s, pos, digits)) ThrowInvalid(text, "time");
      msec = std::llround(digits * 1000.0 / Pow10(static_cast<int>(pos - start)));
    }
  }
  if (pos != s.size() || h > 23 || n > 59 || sec > 59) ThrowInvalid(text, "time");
  return MSecToTime(int64_t{h} * 3600000 + int64_t{n} * 60000 + int64_t{sec} * 1000 + msec);
}

std::string TimeToStr(TDateTime value) { return FormatDateTime("hh:nn:ss", value); }

TDateTime StrToDeltaTime(const std::string& text) {
  std::string s = text;
  for (size_t p = s.find("  "); p != std::string::npos; p = s.find("  ")) s.replace(p, 2, " ");
  if (!s.empty() && s.front() == ' ') s.erase(0, 1);
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.erase(0, s[1] == ' ' ? 2 : 1);
  if (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty()) throw EConvertError("Empty time value");
  size_t blank = s.find(' ');
  unsigned days = 0;
  if (blank != std::string::npos && !ReadWholeNumber(s.substr(0, blank), days))
    ThrowInvalid(text, "time");
  TDateTime v = days + StrToTime(blank == std::string::npos ? s : s.substr(blank + 1));
  return negative ? -v : v;
}

std::string DeltaTimeToStr(TDateTime value) {
  return ValueToStr(value, {.Format = "q hh:nn:ss", .NegativeEnable = true});
}

std::string FilmDurationToStr(TDateTime value) { return FormatDateTime("hh:nn:ss,zzz", value); }

std::string MediaTimeToStr(const std::string& pattern, int64_t msec) {
  if (msec < 0) msec = 0;
  const int64_t days = msec / MSecsPerDay;
  const int64_t inDay = msec % MSecsPerDay;
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    auto at = [&](const char* key) { return pattern.compare(i, std::strlen(key), key) == 0; };
    if (at("mcs")) {
      out += fmt::format("{:03}", inDay % 1000);
      i += 3;
    } else if (at("dd")) {
      out += fmt::format("{:02}", days);
      i += 2;
    } else if (at("hh")) {
      out += fmt::format("{:02}", inDay / 3600000);
      i += 2;
    } else if (at("mm")) {
      out += fmt::format("{:02}", inDay / 60000 % 60);
      i += 2;
    } else if (at("ss")) {
      out += fmt::format("{:02}", inDay / 1000 % 60);
      i += 2;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

std::string DurationToDisplayStr(TDateTime value) {
  if (value < 0) return "-" + DurationToDisplayStr(-value);
  return FormatDateTime(DayCount(value) >= 1 ? "q hh:nn:ss" : "hh:nn:ss", value);
}

TDateTime StrToDate(const std::string& text) {
  std::string s = TrimBlanks(text);
  std::array<unsigned, 3> parts{};
  std::array<size_t, 3> lengths{};
  size_t pos = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (i > 0 && !(pos < s.size() && (s[pos] == '.' || s[pos] == '/') && ++pos))
      ThrowInvalid(text, "date");
    size_t start = pos;
    if (!ReadNumber(s, pos, parts[i], 4)) ThrowInvalid(text, "date");
    lengths[i] = pos - start;
  }
  if (pos != s.size() || lengths[0] > 2 || lengths[1] > 2 || lengths[2] == 3)
    ThrowInvalid(text, "date");
  int y = static_cast<int>(parts[2]) + (lengths[2] <= 2 ? 2000 : 0);
  auto date = TryEncodeDate(y, parts[1], parts[0]);
  if (!date) ThrowInvalid(text, "date");
  return *date;
}

TDateTime StrToDateTime(const std::string& text) {
  std::string s = TrimBlanks(text);
  size_t blank = s.find(' ');
  if (blank == std::string::npos) return StrToDate(s);
  try {
    return Combine(StrToDate(s.substr(0, blank)), StrToTime(s.substr(blank + 1)));
  } catch (const EConvertError&) {
    ThrowInvalid(text, "date and time");
  }
}

std::string DateToStr(TDateTime value) { return FormatDateTime("dd.mm.yyyy", value); }

std::string DateTimeToStr(TDateTime value) { return FormatDateTime("dd.mm.yyyy hh:nn:ss", value); }

std::string DateTimeToStamp(TDateTime value) { return FormatDateTime("yyyymmddThhnnss", value); }

TDateTime StampToDateTime(const std::string& stamp) {
  bool shape = stamp.size() == 15 && stamp[8] == 'T';
  for (size_t i = 0; shape && i < stamp.size(); ++i) shape = i == 8 || IsDigit(stamp[i]);
  if (!shape) ThrowInvalid(stamp, "time stamp");
  auto field = [&](size_t pos, size_t len) {
    return static_cast<unsigned>(std::stoul(stamp.substr(pos, len)));
  };
  auto date = TryEncodeDate(static_cast<int>(field(0, 4)), field(4, 2), field(6, 2));
  auto time = TryEncodeTime(field(9, 2), field(11, 2), field(13, 2), 0);
  if (!date || !time) ThrowInvalid(stamp, "time stamp");
  return Combine(*date, *time);
}

// ---------------------------------------------------------------------------------------------
// Numbers of the float spin edit

double RoundToPrecision(double value, int precision) {
  if (!std::isfinite(value) || precision < -22 || precision > 22) return value;
  double scale = Pow10(std::abs(precision));  // exact up to 10^22
  if (precision <= 0) {
    double scaled = value * scale;
    if (std::fabs(scaled) >= TwoPow52) return value;  // no digits below the precision
    double excess = std::fma(value, scale, -scaled);  // exact product minus scaled
    return RoundHalfEven(scaled, excess) / scale;
  }
  double scaled = value / scale;
  if (std::fabs(scaled) >= TwoPow52) return value;
  double excess = std::fma(-scaled, scale, value);  // sign of exact quotient minus scaled
  return RoundHalfEven(scaled, excess) * scale;
}

double SpinValue(double value, const TFloatSpinRules& rules) {
  if (rules.HasLimits()) {
    if (value < rules.MinValue) return rules.MinValue;
    if (value > rules.MaxValue) return rules.MaxValue;
  }
  return RoundToPrecision(value, rules.Precision);
}

std::string SpinValueText(double value, int precision, char separator) {
  double r = RoundToPrecision(value, precision);
  if (r == 0) r = 0;  // no "-0"
  std::array<char, 400> buf{};
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), r, std::chars_format::fixed);
  std::string s(buf.data(), res.ptr);
  for (char& c : s)
    if (c == '.') c = separator;
  return s;
}

double SpinTextToValue(const std::string& text, double defValue, char separator) {
  size_t end = text.find_last_of(std::string("+-0123456789") + separator);
  if (end == std::string::npos) return defValue;
  std::string s = TrimBlanks(text.substr(0, end + 1));
  std::string plain;  // the number with "." as separator, for from_chars
  size_t pos = 0;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    if (s[pos] == '-') plain += '-';
    ++pos;
  }
  bool digits = false, separatorSeen = false;
  for (; pos < s.size(); ++pos) {
    if (IsDigit(s[pos])) {
      digits = true;
      plain += s[pos];
    } else if (s[pos] == separator && !separatorSeen) {
      separatorSeen = true;
      plain += '.';
    } else {
      return defValue;
    }
  }
  if (!digits) return defValue;
  double v = 0;
  auto res = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  return res.ec == std::errc() ? v : defValue;
}

TSpinKeyResult SpinKeyPress(const std::string& text, size_t caret, char key,
                            const TFloatSpinRules& rules, char separator) {
  caret = std::min(caret, text.size());
  const TSpinKeyResult refused{false, text, caret};
  auto insert = [](std::string t, size_t at, char c) {
    t.insert(at, 1, c);
    return TSpinKeyResult{true, t, at + 1};
  };
  if (static_cast<unsigned char>(key) < 0x20) {
    if (key == '\r') return refused;
    if (key == '\b') {
      if (!rules.EditorEnabled) return refused;
      if (caret == 0) return {true, text, 0};
      return {true, text.substr(0, caret - 1) + text.substr(caret), caret - 1};
    }
    return {true, text, caret};
  }
  if (!rules.EditorEnabled) return refused;
  size_t sepPos = text.find(separator);
  bool hasMinus = text.find('-') != std::string::npos;
  if (key == ',' || key == '.') {
    if (rules.Precision >= 0 || sepPos != std::string::npos) return refused;
    return insert(text, caret, separator);
  }
  if (key == '-') {
    if (!rules.NegativeAllowed() || caret != 0 || hasMinus) return refused;
    return insert(text, caret, key);
  }
  if (!IsDigit(key)) return refused;
  std::string t = text;
  size_t at = caret;
  if (sepPos == std::string::npos) {
    size_t zero = t.starts_with("0") ? 0 : t.starts_with("-0") ? 1 : std::string::npos;
    if (zero != std::string::npos) {  // "0" becomes empty, "-0" becomes "-"
      t.erase(zero, 1);
      if (at > zero) --at;
    }
  }
  if (at == 0 && hasMinus) return refused;
  size_t limit = sepPos == std::string::npos
                     ? static_cast<size_t>(std::max(rules.Digits, 0)) + (hasMinus ? 1 : 0)
                     : sepPos + 1 + static_cast<size_t>(std::max(-rules.Precision, 0));
  if (t.size() + 1 > limit) return refused;
  return insert(t, at, key);
}

// ---------------------------------------------------------------------------------------------
// Text encodings

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp;
    size_t len = DecodeUtf8At(text, i, cp, false);
    if (len == 0) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

#include "recstore/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

const uint16_t Cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: the Cyrillic alphabet
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A,
    0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425,
    0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430,
    0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446,
    0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

const char HexDigits[] = "0123456789abcdef";

// Bytes a string cannot carry as they are: controls, '"', '\\', '/' and everything above 127.
struct TEscapeTable {
  bool Table[256];
  constexpr TEscapeTable() : Table() {
    for (int c = 0; c < 256; ++c) Table[c] = c < 32 || c > 127 || c == '"' || c == '\\' || c == '/';
  }
  constexpr bool operator[](unsigned char c) const { return Table[c]; }
};
constexpr TEscapeTable NeedsEscape;

void AppendU16Escape(std::string& out, uint32_t unit) {
  char buf[6] = {'\\', 'u', HexDigits[(unit >> 12) & 15], HexDigits[(unit >> 8) & 15],
                 HexDigits[(unit >> 4) & 15], HexDigits[unit & 15]};
  out.append(buf, 6);
}

void WriteString(std::string& out, const std::string& s) {
  out.push_back('"');
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    // Copy the run of characters that need no escape in one go.
    size_t start = i;
    const char* data = s.data();
    while (i < n && !NeedsEscape[static_cast<unsigned char>(data[i])]) ++i;
    if (i > start) out.append(s, start, i - start);
    if (i >= n) break;
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '/': out += "\\/"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      default: break;
    }
    if (c < 32) {
      AppendU16Escape(out, c);
      ++i;
      continue;
    }
    uint32_t cp;
    size_t len = DecodeUtf8At(s, i, cp, true);
    if (len == 0) {
      // Not UTF-8: take the byte as the Windows-1251 character the reader would have made of it.
      AppendU16Escape(out, Cp1251ToUnicode(c));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendU16Escape(out, 0xD800 + (cp >> 10));
      AppendU16Escape(out, 0xDC00 + (cp & 0x3FF));
    } else {
      AppendU16Escape(out, cp);
    }
    i += len;
  }
  out.push_back('"');
}

void AppendIndent(std::string& out, int level) {
  out += "\r\n";
  out.append(static_cast<size_t>(level), ' ');
}

void WriteValue(std::string& out, const TJson& v, int level) {
  switch (v.type()) {
    case TJson::value_t::object: {
      if (v.empty()) {
        out += "{}";
        return;
      }
      out.push_back('{');
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) out.push_back(',');
        first = false;
        AppendIndent(out, level + 1);
        WriteString(out, it.key());
        out += ": ";
        WriteValue(out, it.value(), level + 1);
      }
      AppendIndent(out, level);
      out.push_back('}');
      return;
    }
    case TJson::value_t::array: {
      if (v.empty()) {
        out += "[]";
        return;
      }
      out.push_back('[');
      AppendIndent(out, level + 1);
      bool first = true;
      for (const auto& e : v) {
        if (!first) out.push_back(',');
        first = false;
        WriteValue(out, e, level + 1);
      }
      out.push_back(']');
      return;
    }
    case TJson::value_t::string:
      WriteString(out, v.get_ref<const std::string&>());
      return;
    case TJson::value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      return;
    case TJson::value_t::number_integer: {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, v.get<int64_t>());
      out.append(buf, r.ptr);
      return;
    }
    case TJson::value_t::number_unsigned: {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, v.get<uint64_t>());
      out.append(buf, r.ptr);
      return;
    }
    case TJson::value_t::number_float:
      AppendGcvtDouble(out, v.get<double>());
      return;
    default:
      out += "null";
      return;
  }
}

// ---------------------------------------------------------------------------------------------

class TParser {
public:
  TParser(std::string_view text, int maxDepth) : FText(text), FMaxDepth(maxDepth) {}

  TJson ParseDocument() {
    SkipWs();
    TJson v = ParseValue(0);
    SkipWs();
    if (FPos != FText.size()) Fail("unexpected text after the document");
    return v;
  }

private:
  std::string_view FText;
  int FMaxDepth;
  size_t FPos = 0;

  [[noreturn]] void Fail(const std::string& msg) { throw EJsonParse(msg, FPos); }

  void SkipWs() {
    while (FPos < FText.size()) {
      char c = FText[FPos];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
        ++FPos;
      else
        break;
    }
  }

  bool Consume(char c) {
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }

  void Expect(const char* word) {
    size_t len = std::strlen(word);
    if (FText.substr(FPos, len) != word) Fail("invalid literal");
    FPos += len;
  }

  TJson ParseValue(int depth) {
    if (FPos >= FText.size()) Fail("unexpected end of text");
    char c = FText[FPos];
    switch (c) {
      case '{': return ParseObject(depth + 1);
      case '[': return ParseArray(depth + 1);
      case '"': return TJson(ParseString());
      case 't': Expect("true"); return TJson(true);
      case 'f': Expect("false"); return TJson(false);
      case 'n': Expect("null"); return TJson(nullptr);
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber();
        Fail("unexpected character");
    }
  }

  TJson ParseObject(int depth) {
    if (depth > FMaxDepth) Fail("nesting too deep");
    ++FPos;  // '{'
    std::vector<std::pair<std::string, TJson>> members;
    SkipWs();
    if (!Consume('}')) {
      while (true) {
        SkipWs();
        if (FPos >= FText.size() || FText[FPos] != '"') Fail("member name expected");
        std::string key = ParseString();
        SkipWs();
        if (!Consume(':')) Fail("':' expected");
        SkipWs();
        TJson value = ParseValue(depth);
        members.emplace_back(std::move(key), std::move(value));
        SkipWs();
        if (Consume(',')) continue;
        if (Consume('}')) break;
        Fail("',' or '}' expected");
      }
    }
    return MakeObject(members);
  }

  // Builds the object without the per-member duplicate search of the map (which would make a
  // collection of many thousand records quadratic). A repeated name keeps its first position
  // and its last value.
  static TJson MakeObject(std::vector<std::pair<std::string, TJson>>& members) {
    TJson obj = TJson::object();
    auto& map = obj.get_ref<TJson::object_t&>();
    using TContainer = std::vector<std::pair<const std::string, TJson>>;
    auto& vec = static_cast<TContainer&>(map);
    vec.reserve(members.size());
    std::vector<bool> skip(members.size(), false);
    bool hasDup = false;
    if (members.size() <= 16) {
      for (size_t i = 0; i < members.size(); ++i)
        for (size_t j = i + 1; j < members.size(); ++j)
          if (members[i].first == members[j].first) hasDup = true;
    } else {
      std::unordered_map<std::string_view, size_t> seen;
      seen.reserve(members.size());
      for (size_t i = 0; i < members.size(); ++i)
        if (!seen.emplace(members[i].first, i).second) hasDup = true;
    }
    if (!hasDup) {
      for (auto& m : members) vec.emplace_back(std::move(m.first), std::move(m.second));
      return obj;
    }
    std::unordered_map<std::string, size_t> pos;
    for (auto& m : members) {
      auto it = pos.find(m.first);
      if (it != pos.end()) {
        vec[it->second].second = std::move(m.second);
      } else {
        pos.emplace(m.first, vec.size());
        vec.emplace_back(std::move(m.first), std::move(m.second));
      }
    }
    return obj;
  }

  TJson ParseArray(int depth) {
    if (depth > FMaxDepth) Fail("nesting too deep");
    ++FPos;  // '['
    TJson arr = TJson::array();
    auto& vec = arr.get_ref<TJson::array_t&>();
    SkipWs();
    if (Consume(']')) return arr;
    while (true) {
      SkipWs();
      vec.push_back(ParseValue(depth));
      SkipWs();
      if (Consume(',')) continue;
      if (Consume(']')) break;
      Fail("',' or ']' expected");
    }
    return arr;
  }

  uint32_t ParseHex4() {
    if (FPos + 4 > FText.size()) Fail("incomplete \\u escape");
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      int h = HexValue(FText[FPos + k]);
      if (h < 0) Fail("invalid \\u escape");
      v = (v << 4) | static_cast<uint32_t>(h);
    }
    FPos += 4;
    return v;
  }

  std::string ParseString() {
    ++FPos;  // opening quote
    std::string out;
    while (true) {
      size_t start = FPos;
      while (FPos < FText.size()) {
        unsigned char c = static_cast<unsigned char>(FText[FPos]);
        if (c == '"' || c == '\\' || c < 32) break;
        ++FPos;
      }
      out.append(FText.data() + start, FPos - start);
      if (FPos >= FText.size()) Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(FText[FPos]);
      if (c == '"') {
        ++FPos;
        return out;
      }
      if (c < 32) Fail("control character in string");
      ++FPos;  // backslash
      if (FPos >= FText.size()) Fail("unterminated string");
      char e = FText[FPos++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          uint32_t u = ParseHex4();
          if (u >= 0xD800 && u <= 0xDBFF && FPos + 6 <= FText.size() && FText[FPos] == '\\' &&
              FText[FPos + 1] == 'u') {
            size_t save = FPos;
            FPos += 2;
            uint32_t low = ParseHex4();
            if (low >= 0xDC00 && low <= 0xDFFF) {
              AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
              break;
            }
            FPos = save;  // not a pair: keep the high surrogate alone
          }
          AppendUtf8(out, u);
          break;
        }
        default:
          Fail("invalid escape");
      }
    }
  }

  TJson ParseNumber() {
    size_t start = FPos;
    Consume('-');
    if (FPos >= FText.size()) Fail("invalid number");
    if (FText[FPos] == '0') {
      ++FPos;
    } else if (FText[FPos] >= '1' && FText[FPos] <= '9') {
      while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
    } else {
      Fail("invalid number");
    }
    bool isFloat = false;
    if (Consume('.')) {
      // Earlier consoles end whole doubles with a bare decimal point ("25."), so the digits
      // after the point are optional here.
      isFloat = true;
      while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
    }
    if (FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
      isFloat = true;
      ++FPos;
      if (FPos < FText.size() && (FText[FPos] == '+' || FText[FPos] == '-')) ++FPos;
      size_t digits = FPos;
      while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') ++FPos;
      if (FPos == digits) Fail("invalid number exponent");
    }
    const char* b = FText.data() + start;
    const char* e = FText.data() + FPos;
    if (!isFloat) {
      int64_t i;
      auto r = std::from_chars(b, e, i);
      if (r.ec == std::errc() && r.ptr == e) return TJson(i);
      if (*b != '-') {
        uint64_t u;
        r = std::from_chars(b, e, u);
        if (r.ec == std::errc() && r.ptr == e) return TJson(u);
      }
    }
    double d;
    auto r = std::from_chars(b, e, d);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(d)) {
      FPos = start;
      Fail("number out of range");
    }
    return TJson(d);
  }
};

void AppendUtf16Unit(std::string& out, uint32_t unit) { AppendUtf8(out, unit); }

}  // namespace

uint32_t Cp1251ToUnicode(unsigned char b) {
  return b < 0x80 ? b : Cp1251High[b - 0x80];
}

std::string DecodeFileBytes(std::string_view bytes, size_t* badOffset) {
  const std::string_view start = bytes;
  std::string out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    out.reserve(bytes.size());
    size_t i = 2;
    while (i + 1 < bytes.size()) {
      uint32_t u = static_cast<unsigned char>(bytes[i]) |
                   (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
      i += 2;
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
        uint32_t low = static_cast<unsigned char>(bytes[i]) |
                       (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          i += 2;
          AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
          continue;
        }
      }
      AppendUtf16Unit(out, u);
    }
    return out;
  }
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    bytes.remove_prefix(3);
  const size_t skipped = bytes.data() - start.data();
  // The first byte that is not part of a UTF-8 sequence, and whether any sequence of more than
  // one byte is there: text holding one is UTF-8 with a fault, not 8-bit text.
  size_t bad = std::string_view::npos;
  bool multiByte = false;
  for (size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    uint32_t cp;
    size_t len = DecodeUtf8At(bytes, i, cp, false);
    if (len == 0) {
      if (bad == std::string_view::npos) bad = i;
      if (multiByte) break;
      ++i;
      continue;
    }
    multiByte = true;
    i += len;
    if (bad != std::string_view::npos) break;
  }
  if (bad == std::string_view::npos) return std::string(bytes);
  if (multiByte) {
    if (!badOffset) {
      char what[64];
      std::snprintf(what, sizeof what, "byte 0x%02X is not UTF-8 among UTF-8 text",
                    static_cast<unsigned>(static_cast<unsigned char>(bytes[bad])));
      throw EJsonParse(what, skipped + bad);
    }
    *badOffset = skipped + bad;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
      uint32_t cp;
      size_t len = static_cast<unsigned char>(bytes[i]) < 0x80 ? 1
                                                                : DecodeUtf8At(bytes, i, cp, false);
      if (len == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
        ++i;
        continue;
      }
      out.append(bytes.substr(i, len));
      i += len;
    }
    return out;
  }
  out.reserve(bytes.size() * 2);
  for (char c : bytes) AppendUtf8(out, Cp1251ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

TJson ParseJsonText(std::string_view text, int maxDepth) {
  return TParser(text, maxDepth).ParseDocument();
}

TJson ParseProjectBytes(std::string_view bytes, int maxDepth, size_t* badOffset) {
  return ParseJsonText(DecodeFileBytes(bytes, badOffset), maxDepth);
}

bool JsonDeeperThan(const TJson& value, int depth) {
  if (!value.is_structured()) return false;
  if (depth <= 0) return true;
  for (const auto& v : value)
    if (JsonDeeperThan(v, depth - 1)) return true;
  return false;
}

void AppendGcvtDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";  // JSON has no spelling for these; never produced by a reader
    return;
  }
  if (value == 0.0) {
    out += std::signbit(value) ? "-0." : "0.";
    return;
  }
  // 15 significant digits, rounded once: d.dddddddddddddde[+-]x
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  bool negative = sci[0] == '-';
  if (negative) sci.remove_prefix(1);
  size_t ePos = sci.find('e');
  std::string digits;
  digits.push_back(sci[0]);
  digits.append(sci.substr(2, ePos - 2));
  int exp10 = 0;
  std::from_chars(sci.data() + ePos + (sci[ePos + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                  exp10);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (negative) out.push_back('-');
  if (exp10 < -4 || exp10 >= 15) {
    // Exponent form: mantissa without trailing zeros, sign and at least three exponent digits.
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('e');
    out.push_back(exp10 < 0 ? '-' : '+');
    int a = exp10 < 0 ? -exp10 : exp10;
    char eb[8];
    int n = std::snprintf(eb, sizeof eb, "%03d", a);
    out.append(eb, static_cast<size_t>(n));
    return;
  }
  if (exp10 >= 0) {
    size_t intDigits = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intDigits) {
      out.append(digits);
      out.append(intDigits - digits.size(), '0');
      out.push_back('.');
    } else {
      out.append(digits, 0, intDigits);
      out.push_back('.');
      out.append(digits, intDigits, std::string::npos);
    }
    return;
  }
  out += "0.";
  out.append(static_cast<size_t>(-exp10 - 1), '0');
  out.append(digits);
}

std::string WriteProjectText(const TJson& doc, size_t sizeHint) {
  std::string out;
  out.reserve(sizeHint > 0 ? sizeHint + sizeHint / 8 : (1 << 16));
  WriteValue(out, doc, 0);
  return out;
}

void TProjectTextCache::Invalidate(const std::string& collection, const std::string& id) {
  auto it = FTexts.find(collection);
  if (it != FTexts.end()) it->second.erase(id);
}

void TProjectTextCache::Expose(const std::string& collection) {
  FExposed[collection] = true;
  FTexts.erase(collection);
}

void TProjectTextCache::Reset() {
  FTexts.clear();
  FExposed.clear();
  FAllExposed = false;
}

std::string WriteProjectText(const TJson& doc, size_t sizeHint, TProjectTextCache* cache) {
  std::string out;
  out.reserve(sizeHint > 0 ? sizeHint + sizeHint / 8 : (1 << 16));
  WriteProjectText(out, doc, cache);
  return out;
}

void WriteProjectText(std::string& out, const TJson& doc, TProjectTextCache* cache) {
  out.clear();
  if (!cache || cache->FAllExposed || !doc.is_object() || doc.empty()) {
    WriteValue(out, doc, 0);
    return;
  }
  // The same layout as WriteValue, with the record members of every collection cached.
  out.push_back('{');
  bool first = true;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    if (!first) out.push_back(',');
    first = false;
    AppendIndent(out, 1);
    WriteString(out, it.key());
    out += ": ";
    const TJson& coll = it.value();
    if (!coll.is_object() || coll.empty() || cache->FExposed.count(it.key())) {
      WriteValue(out, coll, 1);
      continue;
    }
    auto& texts = cache->FTexts[it.key()];
    out.push_back('{');
    bool firstRec = true;
    for (auto rec = coll.begin(); rec != coll.end(); ++rec) {
      if (!firstRec) out.push_back(',');
      firstRec = false;
      AppendIndent(out, 2);
      auto cached = texts.find(rec.key());
      if (cached == texts.end()) {
        std::string text;
        WriteString(text, rec.key());
        text += ": ";
        WriteValue(text, rec.value(), 2);
        cached = texts.emplace(rec.key(), std::move(text)).first;
      }
      out += cached->second;
    }
    AppendIndent(out, 1);
    out.push_back('}');
  }
  AppendIndent(out, 0);
  out.push_back('}');
}

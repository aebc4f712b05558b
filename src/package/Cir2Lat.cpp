#include "package/Cir2Lat.h"

#include <cstdint>

#include "base/StrUtils.h"

namespace {

// Latin text of a code point of the table; nullptr for a character that is copied.
const char* LatinOf(uint32_t cp) {
  // а..я (U+0430..U+044F) and А..Я (U+0410..U+042F) in alphabet order.
  static const char* const lower[32] = {"a",  "b",  "v",  "g",   "d", "e", "zh", "z",
                                        "i",  "i",  "k",  "l",   "m", "n", "o",  "p",
                                        "r",  "s",  "t",  "u",   "f", "kh", "ts", "ch",
                                        "sh", "shc", "_", "y",   "_", "e", "yu", "ya"};
  static const char* const upper[32] = {"A",  "B",  "V",  "G",   "D", "E", "ZH", "Z",
                                        "I",  "I",  "K",  "L",   "M", "N", "O",  "P",
                                        "R",  "S",  "T",  "U",   "F", "KH", "TS", "CH",
                                        "SH", "SHC", "_", "Y",   "_", "E", "YU", "YA"};
  if (cp >= 0x0430 && cp <= 0x044F) return lower[cp - 0x0430];
  if (cp >= 0x0410 && cp <= 0x042F) return upper[cp - 0x0410];
  switch (cp) {
    case ' ': return "_";
    case ':': return "-";
    case 0x2014: return "-";  // em dash
    case 0x0451: return "e";  // ё
    case 0x0401: return "E";  // Ё
    default: return nullptr;
  }
}

}  // namespace

std::string Cir2Lat(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    // A byte that is not valid UTF-8 is copied as it is.
    uint32_t cp = 0;
    size_t len = DecodeUtf8At(text, i, cp, true);
    const char* lat = len == 0 ? nullptr : LatinOf(cp);
    if (len == 0) len = 1;
    if (lat)
      out += lat;
    else
      out.append(text, i, len);
    i += len;
  }
  return out;
}

#include "schedule/Cir2Lat.h"

#include <cstdint>


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

// Decodes one UTF-8 sequence at s[i]; Len gets its length (1 for a byte that is not valid
// UTF-8, which is then copied as it is).
uint32_t DecodeAt(const std::string& s, size_t i, size_t& len) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  len = 1;
  if (c < 0x80) return c;
  int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) return 0xFFFFFFFF;
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) return 0xFFFFFFFF;
    cp = (cp << 6) | (cc & 0x3F);
  }
  len = static_cast<size_t>(extra) + 1;
  return cp;
}

}  // namespace

std::string Cir2Lat(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t len = 1;
    uint32_t cp = DecodeAt(text, i, len);
    const char* lat = cp == 0xFFFFFFFF ? nullptr : LatinOf(cp);
    if (lat)
      out += lat;
    else
      out.append(text, i, len);
    i += len;
  }
  return out;
}

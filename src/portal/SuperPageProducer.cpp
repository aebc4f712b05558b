#include "portal/SuperPageProducer.h"

#include <fmt/format.h>

#include <fstream>
#include <iterator>

#include "base/StrUtils.h"

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string HTTPDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 1 < text.size() && text[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (i + 2 >= text.size())
        throw ETemplateError(fmt::format(
            "Error decoding URL style (%XX) encoded string at position {}", i + 1));
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0)
        throw ETemplateError(fmt::format("Invalid URL encoded character (%{}{}) at position {}",
                                         text[i + 1], text[i + 2], i + 1));
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string StripParamQuotes(const std::string& text) {
  std::string s = text;
  // Pair quotes from the end: the last quote opens a pair that the nearest earlier quote of
  // the same kind closes; quotes of the other kind in between are plain characters.
  size_t i = s.size();
  while (i > 0) {
    --i;
    char q = s[i];
    if (q != '"' && q != '\'') continue;
    size_t j = i;
    bool found = false;
    while (j > 0) {
      --j;
      if (s[j] == q) {
        found = true;
        break;
      }
    }
    if (!found) continue;  // unpaired: it stays
    s.erase(i, 1);
    s.erase(j, 1);
    i = j;
  }
  return s;
}

std::vector<std::string> SplitTagParams(const std::string& paramText) {
  std::vector<std::string> raw;
  std::string t = Trim(paramText);
  std::string cur;
  bool inQuote = false;
  bool any = false;
  for (char c : t) {
    if (c == '"') inQuote = !inQuote;
    if (!inQuote && IsBlank(c)) {
      if (any) raw.push_back(cur);
      cur.clear();
      any = false;
      continue;
    }
    cur += c;
    any = true;
  }
  if (any) raw.push_back(cur);
  std::vector<std::string> out;
  out.reserve(raw.size());
  for (const std::string& p : raw) out.push_back(HTTPDecode(StripParamQuotes(p)));
  return out;
}

std::string NormaliseTemplateText(const std::string& bytes) {
  size_t start = 0;
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    start = 3;
  std::string out;
  out.reserve(bytes.size() - start + bytes.size() / 16 + 2);
  size_t lineStart = start;
  size_t i = start;
  while (i < bytes.size()) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      out.append(bytes, lineStart, i - lineStart);
      out += "\r\n";
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      ++i;
      lineStart = i;
    } else {
      ++i;
    }
  }
  if (lineStart < bytes.size()) {
    out.append(bytes, lineStart, bytes.size() - lineStart);
    out += "\r\n";
  }
  return out;
}

void TSuperPageProducer::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ETemplateError("Can't to read file " + path);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FDoc = NormaliseTemplateText(bytes);
}

std::string TSuperPageProducer::Content() {
  const std::string& d = FDoc;
  std::string out;
  out.reserve(d.size());
  size_t pos = 0;
  while (pos < d.size()) {
    size_t open = d.find("<#", pos);
    if (open == std::string::npos) {
      out.append(d, pos, std::string::npos);
      break;
    }
    // The parameter text ends at the first ">" outside quotes.
    size_t p = open + 2;
    while (p < d.size() && (d[p] == ' ' || d[p] == '\t')) ++p;
    size_t nameStart = p;
    while (p < d.size() && IsNameChar(d[p])) ++p;
    std::string name = d.substr(nameStart, p - nameStart);
    size_t paramStart = p;
    char quote = 0;
    while (p < d.size()) {
      char c = d[p];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
      ++p;
    }
    if (p >= d.size()) {
      // No closing ">": the rest is plain text.
      out.append(d, pos, std::string::npos);
      break;
    }
    out.append(d, pos, open - pos);
    std::vector<std::string> params = SplitTagParams(d.substr(paramStart, p - paramStart));
    if (OnHTMLTag) out += OnHTMLTag(*this, name, params);
    pos = p + 1;
  }
  return out;
}

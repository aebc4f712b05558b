#include "portal/HtmlPreview.h"

#include "base/StrUtils.h"

namespace {

// The first "<name" followed by ">", blank or "/" (case-insensitive), from Pos.
size_t FindTag(const std::string& lower, const std::string& name, size_t pos = 0) {
  std::string open = "<" + name;
  for (size_t p = lower.find(open, pos); p != std::string::npos; p = lower.find(open, p + 1)) {
    size_t after = p + open.size();
    if (after >= lower.size()) return std::string::npos;
    char c = lower[after];
    if (c == '>' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/') return p;
  }
  return std::string::npos;
}

// href="/x" and href='/x' (any case of href) lose the first "/" of the address; "//host"
// addresses keep theirs too, as the engine would give the same treatment only to a leading "/".
std::string DropLeadingSlashOfHrefs(const std::string& head) {
  std::string out;
  std::string lower = LowerCase(head);
  size_t pos = 0;
  for (size_t p = lower.find("href", pos); p != std::string::npos; p = lower.find("href", pos)) {
    size_t q = p + 4;
    while (q < lower.size() && (lower[q] == ' ' || lower[q] == '\t')) ++q;
    if (q >= lower.size() || lower[q] != '=') {
      out += head.substr(pos, q - pos);
      pos = q;
      continue;
    }
    ++q;
    while (q < lower.size() && (lower[q] == ' ' || lower[q] == '\t')) ++q;
    if (q < lower.size() && (lower[q] == '"' || lower[q] == '\'')) ++q;
    out += head.substr(pos, q - pos);
    pos = q;
    if (pos < head.size() && head[pos] == '/') ++pos;
  }
  out += head.substr(pos);
  return out;
}

}  // namespace

std::string HtmlBodyText(const std::string& html) {
  std::string lower = LowerCase(html);
  size_t b = FindTag(lower, "body");
  if (b == std::string::npos) return Trim(html, " \t\r\n");
  size_t start = lower.find('>', b);
  if (start == std::string::npos) return {};
  ++start;
  size_t end = lower.find("</body>", start);
  return Trim(html.substr(start, end == std::string::npos ? std::string::npos : end - start),
              " \t\r\n");
}

std::string FileBaseAddress(const std::string& folder) {
  std::string f = folder;
  for (char& c : f)
    if (c == '\\') c = '/';
  while (!f.empty() && f.front() == '/') f.erase(0, 1);
  if (!f.empty() && f.back() != '/') f += '/';
  return "file:///" + f;
}

std::string ComposePreviewPage(const std::string& parentText, const std::string& body,
                               const std::string& parentFolder) {
  if (parentText.empty()) return body;
  std::string text = parentText;
  const std::string tag = "<#SystemTemplate>";
  if (size_t p = text.find(tag); p != std::string::npos) text.erase(0, p + tag.size());
  std::string lower = LowerCase(text);
  std::string doctype;
  if (size_t d = lower.find("<!doctype"); d != std::string::npos) {
    size_t e = lower.find('>', d);
    if (e != std::string::npos) doctype = text.substr(d, e - d + 1);
  }
  std::string head = "<head></head>";
  if (size_t h = FindTag(lower, "head"); h != std::string::npos) {
    size_t e = lower.find("</head>", h);
    if (e != std::string::npos) head = DropLeadingSlashOfHrefs(text.substr(h, e + 7 - h));
  }
  if (!parentFolder.empty())
    if (size_t l = FindTag(LowerCase(head), "link"); l != std::string::npos)
      head.insert(l, "<BASE href=\"" + FileBaseAddress(parentFolder) + "\">");
  return doctype + "<HTML>" + head + "\r\n" + "<BODY>" + body + "\r\n" + "</BODY></HTML>";
}

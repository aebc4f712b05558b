#include "control/ControlLayout.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <numeric>
#include <type_traits>

namespace {

int IntOf(const TJson& obj, const char* key) {
  if (!obj.is_object()) return 0;
  auto it = obj.find(key);
  if (it == obj.end() || !it->is_number()) return 0;
  return static_cast<int>(it->get<double>());
}

const std::vector<TElementKind>& Kinds() {
  static const std::vector<TElementKind> kinds = {
      {elemButton, "TDockedBtn", 100, 100, {"Button"}, {"Button"}, boxChannel},
      {elemTrackBar, "TDockedTrackBar", 0, 0, {}, {}, boxChannel},
      {elemText, "TDockedMemoBox", 0, 0, {"Panel", "Button", "Text editor"},
       {"Panel", "Button", "Text editor"}, boxChannel},
      {elemPlayer, "TDockedPlayer", 320, 180, {}, {"Player"}, boxGroup | boxCommands | boxServer},
      {elemHTMLedit, "TDockedHTMLEditorBox", 0, 0, {"Panel", "Button", "HTML editor"},
       {"Panel", "Button", "HTML editor"}, boxChannel},
  };
  return kinds;
}

// The first "showtext" command object's inner object, or nullptr.
TJson* ShowTextCommand(TJson& element) {
  if (!element.is_object()) return nullptr;
  auto cmds = element.find("Cmds");
  if (cmds == element.end() || !cmds->is_array()) return nullptr;
  for (TJson& cmd : *cmds) {
    if (cmd.is_object() && cmd.size() == 1 && cmd.begin().key() == "showtext") return &cmd.begin().value();
  }
  return nullptr;
}

}  // namespace

const TElementKind* FindElementKind(int type) {
  for (const TElementKind& k : Kinds())
    if (k.Type == type) return &k;
  return nullptr;
}

std::string InvalidElementTypeText(int type) {
  return "Invalid elerment type " + std::to_string(type);
}

TElemRect ElementRect(const TJson& element) {
  return {IntOf(element, "PosX"), IntOf(element, "PosY"), IntOf(element, "Width"),
          IntOf(element, "Height")};
}

void SetElementRect(TJson& element, const TElemRect& r) {
  element["PosX"] = r.Left;
  element["PosY"] = r.Top;
  element["Width"] = r.Width;
  element["Height"] = r.Height;
}

std::vector<int> TabOrders(const std::vector<TElemRect>& elems, int panelWidth) {
  const size_t n = elems.size();
  std::vector<int> row(n, -1);
  size_t left = n;
  for (int rowNo = 0; left > 0; ++rowNo) {
    int line = INT_MAX;
    for (size_t i = 0; i < n; ++i)
      if (row[i] < 0) line = std::min(line, elems[i].Top + elems[i].Height - 2);
    for (size_t i = 0; i < n; ++i) {
      if (row[i] >= 0) continue;
      const int b = elems[i].Top + elems[i].Height - 2;
      if (b - elems[i].Height / 2 <= line) {
        row[i] = rowNo;
        --left;
      }
    }
  }
  std::vector<int64_t> key(n);
  for (size_t i = 0; i < n; ++i)
    key[i] = int64_t(row[i]) * 2 * panelWidth + elems[i].Left + elems[i].Width - 2;
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key[a] < key[b]; });
  std::vector<int> tab(n);
  for (size_t pos = 0; pos < n; ++pos) tab[order[pos]] = static_cast<int>(pos);
  return tab;
}

TElemRect DropPlace(TElemRect r, int x, int y, int areaWidth, int areaHeight) {
  r.Left = std::max(0, std::min(x - r.Width / 2, areaWidth - r.Width));
  r.Top = std::max(0, std::min(y - r.Height / 2, areaHeight - r.Height));
  return r;
}

bool ArrowKeyChange(TElemRect& r, TArrowKey key, bool ctrl, bool shift, int clientWidth,
                    int clientHeight, int statusHeight) {
  const int maxRight = clientWidth - 4;
  const int maxBottom = clientHeight - statusHeight - 4;
  if (ctrl) {
    switch (key) {
      case akLeft:
        if (r.Left > 1) return --r.Left, true;
        break;
      case akUp:
        if (r.Top > 1) return --r.Top, true;
        break;
      case akRight:
        if (r.Left + r.Width < maxRight) return ++r.Left, true;
        break;
      case akDown:
        if (r.Top + r.Height < maxBottom) return ++r.Top, true;
        break;
    }
    return false;
  }
  if (shift) {
    switch (key) {
      case akLeft:
        if (r.Width > 15) return --r.Width, true;
        break;
      case akUp:
        if (r.Height > 15) return --r.Height, true;
        break;
      case akRight:
        if (r.Left + r.Width < maxRight) return ++r.Width, true;
        break;
      case akDown:
        if (r.Top + r.Height < maxBottom) return ++r.Height, true;
        break;
    }
  }
  return false;
}

std::string ElementRefId(const TJson& element, const char* key) {
  if (!element.is_object()) return "";
  auto it = element.find(key);
  if (it == element.end() || !it->is_object()) return "";
  return JsonStr(*it, "_ID");
}

TJson CopiedElement(const TJson& element, int left, int top) {
  TJson copy = element.is_object() ? element : TJson::object();
  copy["PosX"] = left + 10;
  copy["PosY"] = top + 10;
  return copy;
}

TJson NewElement(int type, int x, int y) {
  TJson e = {{"PosX", x}, {"PosY", y}, {"Type", type}};
  return e;
}

bool DeleteTableEntry(TJson& table, int tag) {
  if (!table.is_array() || tag < 0 || static_cast<size_t>(tag) >= table.size()) return false;
  table.erase(table.begin() + tag);
  return true;
}

std::string ShowText(const TJson& element) {
  TJson copy = element;
  TJson* cmd = ShowTextCommand(copy);
  if (!cmd || !cmd->is_object()) return "";
  auto t = cmd->find("Text");
  return t != cmd->end() && t->is_string() ? t->get<std::string>() : "";
}

bool SetShowText(TJson& element, const std::string& text) {
  TJson* cmd = ShowTextCommand(element);
  if (!cmd) return false;
  if (!cmd->is_object()) *cmd = TJson::object();
  (*cmd)["Text"] = text;
  return true;
}

uint32_t ColorValueToRgb(int64_t value) {
  const uint32_t v = static_cast<uint32_t>(value) & 0xFFFFFFu;
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

int64_t RgbToColorValue(uint32_t rgb) {
  rgb &= 0xFFFFFFu;
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

std::vector<std::string> CustColorsToLines(const TJson& custColors) {
  std::vector<std::string> lines;
  if (!custColors.is_array()) return lines;
  for (size_t i = 0; i < custColors.size() && i < 26; ++i) {
    const TJson& v = custColors[i];
    if (!v.is_number()) continue;
    char buf[32];
    std::snprintf(buf, sizeof buf, "Color%c=%06X", char('A' + i),
                  static_cast<unsigned>(static_cast<int64_t>(v.get<double>()) & 0xFFFFFF));
    lines.push_back(buf);
  }
  return lines;
}

TJson LinesToCustColors(const std::vector<std::string>& lines) {
  TJson out = TJson::array();
  for (const std::string& line : lines) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq + 1 >= line.size()) continue;
    const std::string hex = line.substr(eq + 1);
    if (hex.size() > 8 || !std::all_of(hex.begin(), hex.end(), [](unsigned char c) { return std::isxdigit(c); }))
      continue;
    out.push_back(static_cast<int64_t>(std::stoul(hex, nullptr, 16) & 0xFFFFFF));
  }
  return out;
}

TJson FontToJson(const TFontSpec& font) {
  return {{"sz", font.Size}, {"st", font.Style}, {"ch", font.Charset}, {"cl", font.Color}, {"n", font.Name}};
}

TFontSpec FontFromJson(const TJson& value, const TFontSpec& base) {
  TFontSpec f = base;
  if (!value.is_object()) return f;
  auto num = [&](const char* key, auto& target) {
    auto it = value.find(key);
    if (it != value.end() && it->is_number()) target = static_cast<std::remove_reference_t<decltype(target)>>(it->get<double>());
  };
  num("sz", f.Size);
  num("st", f.Style);
  num("ch", f.Charset);
  num("cl", f.Color);
  auto n = value.find("n");
  if (n != value.end() && n->is_string()) f.Name = n->get<std::string>();
  return f;
}

std::string PlayerUrl(const std::string& channelUrl) {
  static const std::string igmp = "igmp://";
  if (channelUrl.size() >= igmp.size()) {
    bool same = true;
    for (size_t i = 0; i < igmp.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(channelUrl[i])) != igmp[i]) same = false;
    if (same) return "udp://@" + channelUrl.substr(igmp.size());
  }
  return channelUrl;
}

#include "schedule/Epg.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <vector>

namespace {

constexpr int64_t NoLimitLow = std::numeric_limits<int64_t>::min();
constexpr int64_t NoLimitHigh = std::numeric_limits<int64_t>::max();

// Seconds of an offset in days, to the nearest second.
int64_t Seconds(TDateTime days) { return std::llround(days * 86400.0); }

// Appends code point cp as UTF-8.
void PutUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The next code point of s at i (advanced); U+FFFD for a malformed sequence (one byte eaten).
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (len == 0 || i + static_cast<size_t>(len) > s.size()) {
    ++i;
    return 0xFFFD;
  }
  uint32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
  for (int k = 1; k < len; ++k) {
    unsigned char d = b(i + static_cast<size_t>(k));
    if ((d & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<size_t>(len);
  return cp;
}

bool XmlAllowed(uint32_t cp) {
  if (cp == 0x9 || cp == 0xA || cp == 0xD) return true;
  if (cp < 0x20) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  return cp != 0xFFFE && cp != 0xFFFF;
}

// A line of an M3U list: no line breaks; inside attribute values no double quotes either.
std::string M3uField(const std::string& s, bool attribute) {
  std::string out;
  for (char c : s) {
    if (c == '\r' || c == '\n') c = ' ';
    if (attribute && c == '"') c = '\'';
    out += c;
  }
  return out;
}

}  // namespace

std::string XmlText(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp = NextCodePoint(s, i);
    if (!XmlAllowed(cp)) continue;
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: PutUtf8(out, cp);
    }
  }
  return out;
}

int64_t LocalToEpoch(TDateTime wall) {
  TDateTime whole = std::round(wall * 86400.0) / 86400.0;
  TDateParts d = DecodeDate(whole);
  TTimeParts t = DecodeTime(whole);
  std::tm tm{};
  tm.tm_year = d.Year - 1900;
  tm.tm_mon = static_cast<int>(d.Month) - 1;
  tm.tm_mday = static_cast<int>(d.Day);
  tm.tm_hour = static_cast<int>(t.Hour);
  tm.tm_min = static_cast<int>(t.Min);
  tm.tm_sec = static_cast<int>(t.Sec);
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

TDateTime EpochToLocal(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return EncodeDateTime(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                        static_cast<unsigned>(tm.tm_mday), static_cast<unsigned>(tm.tm_hour),
                        static_cast<unsigned>(tm.tm_min), static_cast<unsigned>(tm.tm_sec), 0);
}

std::string XmltvTime(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  long off = tm.tm_gmtoff / 60;
  char sign = off < 0 ? '-' : '+';
  off = std::labs(off);
  return fmt::format("{:04}{:02}{:02}{:02}{:02}{:02} {}{:02}{:02}", tm.tm_year + 1900,
                     tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, sign, off / 60,
                     off % 60);
}

bool IsXmltvChannelId(const std::string& id) {
  size_t labels = 0, len = 0;
  for (char c : id) {
    if (c == '.') {
      if (len == 0) return false;
      ++labels;
      len = 0;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-') {
      ++len;
    } else {
      return false;
    }
  }
  return len > 0 && labels >= 1;
}

std::string XmltvChannelId(const std::string& text) {
  if (IsXmltvChannelId(text)) return text;
  std::vector<std::string> labels(1);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '.') {
      labels.emplace_back();
    } else if (std::isalnum(c) && c < 0x80) {
      labels.back() += static_cast<char>(c);
    } else if (c == '-' || c < 0x80 || (c & 0xC0) != 0x80) {
      // One "-" per character: UTF-8 continuation bytes add nothing.
      labels.back() += '-';
    }
  }
  labels.erase(std::remove(labels.begin(), labels.end(), std::string()), labels.end());
  if (labels.empty()) labels.push_back("channel");
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  labels[0] += fmt::format("-{:08x}", hash);
  if (labels.size() < 2) labels.push_back(std::string(EpgIdSuffix + 1));
  std::string id;
  for (const std::string& l : labels) id += (id.empty() ? "" : ".") + l;
  return id;
}

std::string EpgChannelId(const std::string& recordID, const TJson& channel) {
  std::string id = JsonStr(channel, "EpgId");
  size_t b = id.find_first_not_of(" \t"), e = id.find_last_not_of(" \t");
  id = b == std::string::npos ? recordID + EpgIdSuffix : id.substr(b, e - b + 1);
  return XmltvChannelId(id);
}

TEpgGuide BuildGuide(TDbFile& db, const std::vector<TEpgRow>& rows, int64_t From, int64_t To) {
  TEpgGuide guide;
  TDbCollectionItem& channels = db.CollectionByName("Channels");
  TDbCollectionItem& films = db.CollectionByName("Films");
  std::map<std::string, size_t> channelIndex;  // record id -> index; npos for command channels
  std::map<std::string, std::string> descByFilm;
  auto channelOf = [&](const std::string& id) -> size_t {
    auto it = channelIndex.find(id);
    if (it != channelIndex.end()) return it->second;
    std::optional<TJson> rec = channels.GetRecord(id);
    size_t index = std::string::npos;
    if (rec && JsonInt(*rec, "Type") != 2) {
      index = guide.Channels.size();
      guide.Channels.push_back({id, EpgChannelId(id, *rec), JsonStr(*rec, "Name")});
    }
    channelIndex[id] = index;
    return index;
  };
  auto descOf = [&](const std::string& filmID) -> const std::string& {
    auto it = descByFilm.find(filmID);
    if (it != descByFilm.end()) return it->second;
    std::optional<TJson> rec = films.GetRecord(filmID);
    return descByFilm[filmID] = rec ? JsonStr(*rec, "Description") : std::string();
  };

  // Whole-day margins: an occurrence that starts before the window may still reach into it.
  TDateTime fromWall = EpochToLocal(From) - 2;
  TDateTime toWall = EpochToLocal(To) + 2;
  for (size_t r = 0; r < rows.size(); ++r) {
    const TEpgRow& row = rows[r];
    if (!row.Schedule) continue;
    int64_t rowFrom = row.HasStart ? LocalToEpoch(row.Start) : NoLimitLow;
    int64_t rowTo = NoLimitHigh;
    if (r + 1 < rows.size() && rows[r + 1].HasStart) rowTo = LocalToEpoch(rows[r + 1].Start);
    const TSchedule& sh = *row.Schedule;
    for (const std::string& id : sh.ChannelsId) channelOf(id);
    for (const auto& ivp : sh.Intervals) {
      const TScheduleInterval& iv = *ivp;
      if (iv.ScheduleNotes.empty()) continue;
      size_t ch = channelOf(iv.ChannelId);
      if (ch == std::string::npos) continue;
      TDateTime len = iv.TempEndTime - iv.StartTime;
      TDateTime P = iv.Periodicity;
      TDateTime first = row.Calc + iv.StartTime;
      int64_t k = 0;
      if (P > 0 && fromWall - len > first) k = static_cast<int64_t>(std::floor((fromWall - len - first) / P));
      for (; k >= 0; ++k) {
        TDateTime wall = first + static_cast<TDateTime>(k) * P;
        if (wall >= toWall) break;
        int64_t anchor = LocalToEpoch(wall);
        // The occurrence's start before its rounding to the second: a period with milliseconds
        // moves it by a fraction every time, which the exact times must not lose.
        const double exactAnchor = static_cast<double>(anchor) + (wall * 86400.0 - std::round(wall * 86400.0));
        int64_t occEnd = anchor + Seconds(len);
        auto add = [&](TDateTime from, TDateTime to, const TFilm& film, size_t sourceRow) {
          int64_t s = std::max(anchor + Seconds(from - iv.StartTime), rowFrom);
          int64_t e = std::min({anchor + Seconds(to - iv.StartTime), rowTo, occEnd});
          if (s >= e) return;
          double xs = std::max(exactAnchor + (from - iv.StartTime) * 86400.0, static_cast<double>(rowFrom));
          double xe = std::min({exactAnchor + (to - iv.StartTime) * 86400.0, static_cast<double>(rowTo),
                                exactAnchor + len * 86400.0});
          std::string title = !film.Name.empty() ? film.Name : !film.FileName.empty() ? film.FileName : film._ID;
          guide.Programmes.push_back(
              {ch, s, e, title, descOf(film._ID), film._ID, iv.SourceID, sourceRow, xs, xe});
        };
        const auto& notes = iv.ScheduleNotes;
        TDateTime lastEnd = iv.StartTime;
        for (size_t j = 0; j < notes.size(); ++j) {
          TDateTime end = notes[j].DateTime + notes[j].Film->Duration;
          if (j + 1 < notes.size() && TimeEqual(end, notes[j + 1].DateTime)) end = notes[j + 1].DateTime;
          end = std::min(end, iv.TempEndTime);
          add(notes[j].DateTime, end, *notes[j].Film, notes[j].Row);
          lastEnd = end;
        }
        // The gap up to the next row is filled by repeating the last film.
        const TFilm& last = *notes.back().Film;
        if (iv.Typ == RepeatLastMovie && last.Duration > 0) {
          for (int n = 0; TimeGreater(iv.TempEndTime, lastEnd) && n < 100000; ++n) {
            TDateTime end = std::min(lastEnd + last.Duration, iv.TempEndTime);
            add(lastEnd, end, last, notes.back().Row);
            lastEnd = end;
          }
        }
        if (P <= 0) break;
      }
    }
  }

  // A repetition that starts while the previous one still plays (a shorter day at a clock
  // change) cuts it short: the server starts each repetition on time.
  std::stable_sort(guide.Programmes.begin(), guide.Programmes.end(),
                   [](const TEpgProgramme& a, const TEpgProgramme& b) {
                     return a.Channel != b.Channel ? a.Channel < b.Channel : a.Start < b.Start;
                   });
  std::vector<TEpgProgramme> kept;
  kept.reserve(guide.Programmes.size());
  for (size_t i = 0; i < guide.Programmes.size(); ++i) {
    TEpgProgramme p = std::move(guide.Programmes[i]);
    if (i + 1 < guide.Programmes.size() && guide.Programmes[i + 1].Channel == p.Channel) {
      p.Stop = std::min(p.Stop, guide.Programmes[i + 1].Start);
      p.ExactStop = std::min(p.ExactStop, guide.Programmes[i + 1].ExactStart);
    }
    if (p.Start >= p.Stop || p.Stop <= From || p.Start >= To) continue;
    kept.push_back(std::move(p));
  }
  guide.Programmes = std::move(kept);

  // Only channels with programmes in the window are listed: a guide reader takes an empty
  // channel for a broken guide, and a head-end channel relays a programme the console does
  // not know.
  std::vector<size_t> newIndex(guide.Channels.size(), std::string::npos);
  for (const TEpgProgramme& p : guide.Programmes) newIndex[p.Channel] = 0;
  std::vector<TEpgChannel> listed;
  for (size_t c = 0; c < guide.Channels.size(); ++c) {
    if (newIndex[c] == std::string::npos) continue;
    newIndex[c] = listed.size();
    listed.push_back(std::move(guide.Channels[c]));
  }
  for (TEpgProgramme& p : guide.Programmes) p.Channel = newIndex[p.Channel];
  guide.Channels = std::move(listed);
  return guide;
}

std::string GuideXmltv(const TEpgGuide& guide, const std::string& generator) {
  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n";
  out += "<tv generator-info-name=\"" + XmlText(generator) + "\">\n";
  for (const TEpgChannel& c : guide.Channels) {
    out += "  <channel id=\"" + XmlText(c.Id) + "\">\n";
    out += "    <display-name>" + XmlText(c.Name) + "</display-name>\n";
    out += "  </channel>\n";
  }
  for (const TEpgProgramme& p : guide.Programmes) {
    out += "  <programme start=\"" + XmltvTime(p.Start) + "\" stop=\"" + XmltvTime(p.Stop) +
           "\" channel=\"" + XmlText(guide.Channels[p.Channel].Id) + "\">\n";
    out += "    <title>" + XmlText(p.Title) + "</title>\n";
    if (!p.Desc.empty()) out += "    <desc>" + XmlText(p.Desc) + "</desc>\n";
    out += fmt::format("    <length units=\"seconds\">{}</length>\n", p.Stop - p.Start);
    out += "  </programme>\n";
  }
  out += "</tv>\n";
  return out;
}

std::string PlayUrl(const std::string& url) {
  static const std::string igmp = "igmp://";
  if (url.size() >= igmp.size()) {
    bool same = true;
    for (size_t i = 0; i < igmp.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(url[i])) == igmp[i];
    if (same) return "udp://@" + url.substr(igmp.size());
  }
  return url;
}

std::string M3uText(const std::vector<TM3uEntry>& entries, const std::string& urlTvg) {
  std::string out = "#EXTM3U url-tvg=\"" + M3uField(urlTvg, true) + "\"\n";
  for (const TM3uEntry& e : entries) {
    out += "#EXTINF:-1 tvg-id=\"" + M3uField(e.Id, true) + "\" tvg-name=\"" +
           M3uField(e.Name, true) + "\" group-title=\"" + M3uField(e.Group, true) + "\"," +
           M3uField(e.Name, false) + "\n";
    out += M3uField(e.URL, false) + "\n";
  }
  return out;
}

bool SafeGroupFileName(const std::string& name) {
  if (name.find_first_not_of(" \t") == std::string::npos) return false;
  if (name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

#pragma once
// The programme guide (XMLTV) and the channel list (M3U) of a server, made from the same built
// schedules that its package is exported from.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"
#include "schedule/ScheduleClasses.h"

// One schedule row of a server as the guide sees it.
struct TEpgRow {
  // Built in build mode, with the head-end channels of the row's STB groups in its channel list.
  std::shared_ptr<const TSchedule> Schedule;
  TDateTime Calc = 0;    // "Calc from": the local date-time the period offsets count from
  TDateTime Start = 0;   // "Start at": the local date-time the server switches to this row
  bool HasStart = false;
};

struct TEpgChannel {
  std::string RecordID;  // the Channels record
  std::string Id;        // the guide's channel id (EpgChannelId)
  std::string Name;
};

struct TEpgProgramme {
  size_t Channel = 0;    // index into TEpgGuide::Channels
  int64_t Start = 0;     // seconds since the epoch
  int64_t Stop = 0;
  std::string Title;
  std::string Desc;
  std::string FilmID;
  // The ChSched record and its row (from 0) whose content plays here.
  std::string SourceID;
  size_t SourceRow = 0;
  // Start and Stop before they were rounded to the second (seconds since the epoch).
  double ExactStart = 0;
  double ExactStop = 0;
};

struct TEpgGuide {
  std::vector<TEpgChannel> Channels;
  std::vector<TEpgProgramme> Programmes;  // by channel, then by start; never overlapping
};

// The guide's channel id of a Channels record: its EpgId when set, else its identifier with
// this suffix (guide readers expect ids of the form "name.domain"), in the form XmltvChannelId
// makes of it. The channel lists write the same id as tvg-id.
inline constexpr const char* EpgIdSuffix = ".pelmora";
std::string EpgChannelId(const std::string& recordID, const TJson& channel);

// True for an id the XMLTV validator accepts: at least two dot-separated labels of letters,
// digits and "-".
bool IsXmltvChannelId(const std::string& id);
// An id the validator accepts: a valid id as it is; otherwise every other character becomes
// "-", empty labels are dropped, the first label gets "-" and eight hexadecimal digits of a
// hash of the whole text (so "a_b" and "a b" stay apart) and a single label gets the suffix.
// The same text always gives the same id.
std::string XmltvChannelId(const std::string& text);

// The programmes of every by-schedule channel of the rows that overlap the window
// [From, To) (seconds since the epoch). Each repetition of an interval starts at its local
// date-time (Calc + offset + k × period); its films follow one another in elapsed time. A row
// plays from its "Start at" until the next row's. Films only: commands are not programmes.
// Channels without programmes in the window (head-end channels among them) are not listed.
TEpgGuide BuildGuide(TDbFile& db, const std::vector<TEpgRow>& rows, int64_t From, int64_t To);

// The XMLTV document of a guide: UTF-8, times in the local time zone with their offsets.
std::string GuideXmltv(const TEpgGuide& guide, const std::string& generator = "pelmora");

// "YYYYMMDDhhmmss ±hhmm" of a moment in the local time zone.
std::string XmltvTime(int64_t t);
// The moment of a local date-time (to the second); a time that the clock skips counts as the
// moment after the change, an ambiguous one as its first occurrence.
int64_t LocalToEpoch(TDateTime wall);
// The local date-time of a moment.
TDateTime EpochToLocal(int64_t t);
// Text for XML: invalid UTF-8 becomes U+FFFD, characters XML does not allow are dropped, and
// & < > " ' are escaped.
std::string XmlText(const std::string& s);

// One entry of a channel list.
struct TM3uEntry {
  std::string Id;     // tvg-id: the guide's channel id
  std::string Name;   // tvg-name and the title
  std::string Group;  // group-title: the STB group's Name
  std::string URL;    // as a client plays it
};
// The address a client plays: "igmp://" (any letter case) becomes "udp://@".
std::string PlayUrl(const std::string& url);
// "#EXTM3U url-tvg=..." and an #EXTINF line and the address of every entry.
std::string M3uText(const std::vector<TM3uEntry>& entries, const std::string& urlTvg);

// A STB group name that may become the file name "channels_<name>.m3u".
bool SafeGroupFileName(const std::string& name);

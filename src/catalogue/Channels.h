#pragma once
// Rules of the Channels records that other rooms read, and the channels window's rules.
#include <cstdint>
#include <string>

// The "Type" of a channel record.
enum TChannelType : int64_t {
  ChTypeBySchedule = 0,  // plays films by its channel schedule, with commands beside them
  ChTypeHeadend = 1,     // relays a stream; it has no schedule of its own
  ChTypeCommand = 2,     // carries commands only
};

// The multicast address a new channel starts with.
inline const char* KDefaultChannelUrl = "igmp://239.0.0.1:1234";

// The address the player opens for a channel's URL: "igmp://" in any letter case becomes
// "udp://@" (the rest kept); every other address is played as written.
std::string ChannelPlayAddress(const std::string& url);

// Whether a channel of this type has a stream to show (the URL, mute and "Show video"
// controls are usable): every type but "Command".
bool ChannelTypeHasStream(int64_t type);

// What the channels window's preview does when a record is shown, its URL changes or
// "Show video" is clicked.
enum class TChannelPreviewAction { None, Play, Stop };
struct TChannelPreview {
  TChannelPreviewAction Action = TChannelPreviewAction::None;
  std::string Address;  // for Play
};
// ShowVideo: "Show video" checked and enabled; PlayChannels: the option; LastUrl: the address
// the player was started with ("" when it is not playing one); Playing: the player plays.
TChannelPreview ChannelPreview(bool showVideo, bool playChannels, const std::string& url,
                               const std::string& lastUrl, bool playing);

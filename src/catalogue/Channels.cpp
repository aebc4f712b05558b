#include "catalogue/Channels.h"

#include "base/StrUtils.h"

std::string ChannelPlayAddress(const std::string& url) {
  static const std::string igmp = "igmp://";
  if (url.size() >= igmp.size() && LowerCase(url.substr(0, igmp.size())) == igmp)
    return "udp://@" + url.substr(igmp.size());
  return url;
}

bool ChannelTypeHasStream(int64_t type) { return type != ChTypeCommand; }

TChannelPreview ChannelPreview(bool showVideo, bool playChannels, const std::string& url,
                               const std::string& lastUrl, bool playing) {
  TChannelPreview p;
  if (showVideo) {
    std::string address = ChannelPlayAddress(url);
    // Without the option nothing plays, and a running preview is left as it is.
    if (playChannels && address != lastUrl) {
      p.Action = TChannelPreviewAction::Play;
      p.Address = address;
    }
    return p;
  }
  if (playing) p.Action = TChannelPreviewAction::Stop;
  return p;
}

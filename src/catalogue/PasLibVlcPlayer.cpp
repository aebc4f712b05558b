#include "catalogue/PasLibVlcPlayer.h"

#include <vlc/vlc.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "base/CommonProcedures.h"
#include "base/Operator.h"
#include "base/StrUtils.h"
#include "catalogue/MediaLength.h"

namespace {

std::mutex GInstanceMutex;
libvlc_instance_t* GInstance = nullptr;
bool GInstanceTried = false;
bool GHeadless = false;

bool IsAddress(const std::string& s) { return s.find("://") != std::string::npos; }

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && LowerCase(s.substr(0, prefix.size())) == prefix;
}

libvlc_media_t* NewMedia(libvlc_instance_t* inst, const std::string& address) {
  return IsAddress(address) ? libvlc_media_new_location(inst, address.c_str())
                            : libvlc_media_new_path(inst, address.c_str());
}

void AddOption(libvlc_media_t* media, const std::string& option) {
  if (option.empty()) return;
  std::string o = option[0] == ':' ? option : ":" + option;
  libvlc_media_add_option(media, o.c_str());
}

TPasLibVlcPlayerState FromVlc(libvlc_state_t s) {
  switch (s) {
    case libvlc_Opening: return plvPlayer_Opening;
    case libvlc_Buffering: return plvPlayer_Buffering;
    case libvlc_Playing: return plvPlayer_Playing;
    case libvlc_Paused: return plvPlayer_Paused;
    case libvlc_Stopped: return plvPlayer_Stopped;
    case libvlc_Ended: return plvPlayer_Ended;
    case libvlc_Error: return plvPlayer_Error;
    default: return plvPlayer_NothingSpecial;
  }
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

void SetLibVlcHeadless(bool headless) {
  std::lock_guard<std::mutex> lock(GInstanceMutex);
  if (!GInstanceTried) GHeadless = headless;
}

libvlc_instance_t* LibVlcInstance() {
  std::lock_guard<std::mutex> lock(GInstanceMutex);
  if (!GInstanceTried) {
    GInstanceTried = true;
    std::vector<const char*> args = {"--quiet", "--no-video-title-show", "--no-stats",
                                     "--no-snapshot-preview"};
    if (GHeadless) {
      args.push_back("--vout=dummy");
      args.push_back("--aout=dummy");
    }
    GInstance = libvlc_new(static_cast<int>(args.size()), args.data());
  }
  return GInstance;
}

// ---------------------------------------------------------------------------------------------

struct TPasLibVlcPlayer::TEventLink {
  std::atomic<bool> Alive{true};
  TPasLibVlcPlayer* Player = nullptr;
  libvlc_event_manager_t* Events = nullptr;
  std::shared_ptr<TEventLink> Self;  // kept by the libvlc callbacks' user data
};

namespace {

const libvlc_event_type_t KEvents[] = {
    libvlc_MediaPlayerLengthChanged, libvlc_MediaPlayerPositionChanged,
    libvlc_MediaPlayerEndReached,    libvlc_MediaPlayerEncounteredError,
    libvlc_MediaPlayerOpening,       libvlc_MediaPlayerBuffering,
    libvlc_MediaPlayerPlaying,       libvlc_MediaPlayerPaused,
    libvlc_MediaPlayerStopped};

}  // namespace

TPasLibVlcPlayer::TPasLibVlcPlayer(IOperator* op) : FOp(op) {
  // The link exists with or without libvlc: every queued call checks it before it runs.
  FLink = std::make_shared<TEventLink>();
  FLink->Player = this;
  if (libvlc_instance_t* inst = LibVlcInstance()) FPlayer = libvlc_media_player_new(inst);
  if (FPlayer) {
    // Clicks and keys go to the window the picture is shown in, not to libvlc.
    libvlc_video_set_mouse_input(FPlayer, 0);
    libvlc_video_set_key_input(FPlayer, 0);
    Attach();
  }
}

void TPasLibVlcPlayer::Attach() {
  FLink->Events = libvlc_media_player_event_manager(FPlayer);
  FLink->Self = FLink;
  for (libvlc_event_type_t t : KEvents)
    libvlc_event_attach(FLink->Events, t, &TPasLibVlcPlayer::EventCallback, FLink.get());
}

void TPasLibVlcPlayer::EventCallback(const libvlc_event_t* ev, void* data) {
  auto* link = static_cast<TEventLink*>(data);
  std::shared_ptr<TEventLink> keep = link->Self;
  if (!keep || !keep->Alive) return;
  std::function<void(TPasLibVlcPlayer&)> fn;
  switch (ev->type) {
    case libvlc_MediaPlayerLengthChanged: {
      int64_t len = ev->u.media_player_length_changed.new_length;
      fn = [len](TPasLibVlcPlayer& p) {
        if (p.OnMediaPlayerLengthChanged) p.OnMediaPlayerLengthChanged(len);
      };
      break;
    }
    case libvlc_MediaPlayerPositionChanged: {
      double pos = ev->u.media_player_position_changed.new_position;
      fn = [pos](TPasLibVlcPlayer& p) {
        if (p.OnMediaPlayerPositionChanged) p.OnMediaPlayerPositionChanged(pos);
      };
      break;
    }
    case libvlc_MediaPlayerEndReached:
      fn = [](TPasLibVlcPlayer& p) {
        if (p.OnMediaPlayerStateChanged) p.OnMediaPlayerStateChanged(plvPlayer_Ended);
        if (p.OnMediaPlayerEndReached) p.OnMediaPlayerEndReached();
      };
      break;
    case libvlc_MediaPlayerEncounteredError:
      fn = [](TPasLibVlcPlayer& p) {
        if (p.OnMediaPlayerStateChanged) p.OnMediaPlayerStateChanged(plvPlayer_Error);
        if (p.OnMediaPlayerEncounteredError) p.OnMediaPlayerEncounteredError();
      };
      break;
    default: {
      TPasLibVlcPlayerState st = ev->type == libvlc_MediaPlayerOpening     ? plvPlayer_Opening
                                 : ev->type == libvlc_MediaPlayerBuffering ? plvPlayer_Buffering
                                 : ev->type == libvlc_MediaPlayerPlaying   ? plvPlayer_Playing
                                 : ev->type == libvlc_MediaPlayerPaused    ? plvPlayer_Paused
                                                                           : plvPlayer_Stopped;
      fn = [st](TPasLibVlcPlayer& p) {
        if (p.OnMediaPlayerStateChanged) p.OnMediaPlayerStateChanged(st);
      };
    }
  }
  // libvlc calls from its own threads; the handlers run on the user-interface thread.
  TPasLibVlcPlayer* player = keep->Player;
  IOperator& op = player->FOp ? *player->FOp : AppOperator();
  op.RunOnUiThread([keep, fn] {
    if (keep->Alive) fn(*keep->Player);
  });
}

TPasLibVlcPlayer::~TPasLibVlcPlayer() {
  FLink->Alive = false;
  if (!FPlayer) return;
  // Detaching waits for a callback that is running; afterwards none can start.
  for (libvlc_event_type_t t : KEvents)
    libvlc_event_detach(FLink->Events, t, &TPasLibVlcPlayer::EventCallback, FLink.get());
  FLink->Alive = false;
  libvlc_media_player_stop(FPlayer);
  libvlc_media_player_release(FPlayer);
  FLink->Self.reset();
}

void TPasLibVlcPlayer::SetVideoWindow(uint32_t xid) {
  FWindow = xid;
  if (FPlayer) libvlc_media_player_set_xwindow(FPlayer, xid);
}

void TPasLibVlcPlayer::Play(const std::string& address, int timeoutMs) {
  if (!FPlayer) {
    if (OnMediaPlayerEncounteredError) {
      Post([this] {
        if (OnMediaPlayerEncounteredError) OnMediaPlayerEncounteredError();
      });
    }
    return;
  }
  libvlc_media_player_stop(FPlayer);
  libvlc_media_t* media = NewMedia(LibVlcInstance(), address);
  if (!media) {
    Post([this] {
      if (OnMediaPlayerEncounteredError) OnMediaPlayerEncounteredError();
    });
    return;
  }
  for (const auto& o : MediaOptions) AddOption(media, o);
  AddOption(media, "no-video-title-show");
  libvlc_media_player_set_media(FPlayer, media);
  libvlc_media_release(media);
  libvlc_media_player_play(FPlayer);
  if (!StartsWithNoCase(address, "http://")) return;
  bool restarted = false;
  for (int waited = 0; waited < timeoutMs; waited += 10) {
    libvlc_state_t st = libvlc_media_player_get_state(FPlayer);
    if (st == libvlc_Playing || st == libvlc_Error) break;
    if (st == libvlc_Ended) {
      if (restarted) break;
      restarted = true;
      libvlc_media_player_stop(FPlayer);
      libvlc_media_player_play(FPlayer);
    }
    SleepMs(10);
  }
}

void TPasLibVlcPlayer::Stop() {
  if (FPlayer) libvlc_media_player_stop(FPlayer);
}
void TPasLibVlcPlayer::Pause() {
  if (FPlayer) libvlc_media_player_set_pause(FPlayer, 1);
}
void TPasLibVlcPlayer::Resume() {
  if (FPlayer) libvlc_media_player_set_pause(FPlayer, 0);
}
void TPasLibVlcPlayer::SetMute(bool mute) {
  if (FPlayer) libvlc_audio_set_mute(FPlayer, mute ? 1 : 0);
}
bool TPasLibVlcPlayer::GetMute() const { return FPlayer && libvlc_audio_get_mute(FPlayer) == 1; }

TPasLibVlcPlayerState TPasLibVlcPlayer::GetState() const {
  return FPlayer ? FromVlc(libvlc_media_player_get_state(FPlayer)) : plvPlayer_NothingSpecial;
}

bool TPasLibVlcPlayer::IsPlay() const { return FPlayer && libvlc_media_player_is_playing(FPlayer); }

int64_t TPasLibVlcPlayer::GetVideoLenInMs() const {
  return FPlayer ? libvlc_media_player_get_length(FPlayer) : -1;
}
int64_t TPasLibVlcPlayer::GetVideoPosInMs() const {
  return FPlayer ? libvlc_media_player_get_time(FPlayer) : -1;
}
std::string TPasLibVlcPlayer::GetVideoLenStr(const std::string& pattern) const {
  return MediaTimeToStr(pattern, GetVideoLenInMs());
}
std::string TPasLibVlcPlayer::GetVideoPosStr(const std::string& pattern) const {
  return MediaTimeToStr(pattern, GetVideoPosInMs());
}

double TPasLibVlcPlayer::GetVideoPosInPercent() const {
  if (!FPlayer) return 0;
  float p = libvlc_media_player_get_position(FPlayer);
  return p < 0 ? 0 : p * 100.0;
}

void TPasLibVlcPlayer::SetVideoPosInPercent(double percent) {
  if (!FPlayer) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  libvlc_media_player_set_position(FPlayer, static_cast<float>(percent / 100.0));
}

void TPasLibVlcPlayer::SetMarqueeText(const std::string& text) {
  if (FPlayer) libvlc_video_set_marquee_string(FPlayer, libvlc_marquee_Text, text.c_str());
}
void TPasLibVlcPlayer::SetMarqueeEnable(bool enable) {
  if (FPlayer) libvlc_video_set_marquee_int(FPlayer, libvlc_marquee_Enable, enable ? 1 : 0);
}
void TPasLibVlcPlayer::SetMarqueeColor(uint32_t rgb) {
  if (FPlayer) libvlc_video_set_marquee_int(FPlayer, libvlc_marquee_Color, static_cast<int>(rgb));
}
void TPasLibVlcPlayer::SetMarqueeSize(int size) {
  if (FPlayer) libvlc_video_set_marquee_int(FPlayer, libvlc_marquee_Size, size);
}

void TPasLibVlcPlayer::Post(std::function<void()> fn) {
  IOperator& op = FOp ? *FOp : AppOperator();
  std::shared_ptr<TEventLink> keep = FLink;
  // The work captured this player: it runs only while the player lives.
  op.RunOnUiThread([keep, fn = std::move(fn)] {
    if (keep->Alive) fn();
  });
}

// ---------------------------------------------------------------------------------------------

std::optional<int64_t> ProbeMediaLength(const std::string& path, int timeoutMs) {
  // The container reader's length first: the player reads MPEG-TS and AVI lengths from the
  // bit rate and is off by more than half a second on short films.
  if (!IsAddress(path)) {
    if (std::optional<int64_t> len = MediaFileLengthMs(path)) return len;
  }
  return PlayerMediaLength(path, timeoutMs);
}

std::optional<int64_t> PlayerMediaLength(const std::string& path, int timeoutMs) {
  libvlc_instance_t* inst = LibVlcInstance();
  if (!inst) return std::nullopt;
  libvlc_media_t* media = NewMedia(inst, path);
  if (!media) return std::nullopt;
  const auto start = std::chrono::steady_clock::now();
  auto left = [&] {
    return timeoutMs - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
  };
  std::optional<int64_t> result;
  if (libvlc_media_parse_with_options(media, libvlc_media_parse_local, timeoutMs) == 0) {
    while (libvlc_media_get_parsed_status(media) == 0 && left() > 0) SleepMs(2);
  }
  libvlc_media_parsed_status_t status = libvlc_media_get_parsed_status(media);
  if (status == libvlc_media_parsed_status_done) {
    int64_t d = libvlc_media_get_duration(media);
    if (d > 0) result = d;
  }
  if (!result && status == libvlc_media_parsed_status_done && left() > 0) {
    // Some containers tell their length only once playing: play without picture and sound.
    AddOption(media, "no-video");
    AddOption(media, "no-audio");
    AddOption(media, "no-video-title-show");
    if (libvlc_media_player_t* p = libvlc_media_player_new_from_media(media)) {
      libvlc_media_player_play(p);
      while (left() > 0) {
        int64_t len = libvlc_media_player_get_length(p);
        libvlc_state_t st = libvlc_media_player_get_state(p);
        if (len > 0) {
          result = len;
          break;
        }
        if (st == libvlc_Ended || st == libvlc_Error) {
          result = 0;
          break;
        }
        SleepMs(10);
      }
      libvlc_media_player_stop(p);
      libvlc_media_player_release(p);
    }
  } else if (!result && status == libvlc_media_parsed_status_done) {
    result = 0;
  }
  libvlc_media_release(media);
  return result;
}

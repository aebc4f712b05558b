#pragma once
// The player core over libvlc: one libvlc instance per program, players that open files and
// stream addresses with their media options, their state, length and position, and the events
// the windows handle, delivered on the user-interface thread. The window that shows the
// picture gives the player its native window id; without one the player plays headless.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct libvlc_instance_t;
struct libvlc_media_player_t;
struct libvlc_event_t;
class IOperator;

enum TPasLibVlcPlayerState {
  plvPlayer_NothingSpecial,
  plvPlayer_Opening,
  plvPlayer_Buffering,
  plvPlayer_Playing,
  plvPlayer_Paused,
  plvPlayer_Stopped,
  plvPlayer_Ended,
  plvPlayer_Error
};

// Programs without a screen (the command-line tool, tests) ask for dummy video and audio
// output before the instance is created; later calls change nothing.
void SetLibVlcHeadless(bool headless);
// The program's libvlc instance, created on first use; nullptr when libvlc cannot start.
libvlc_instance_t* LibVlcInstance();

class TPasLibVlcPlayer {
public:
  explicit TPasLibVlcPlayer(IOperator* op = nullptr);
  ~TPasLibVlcPlayer();
  TPasLibVlcPlayer(const TPasLibVlcPlayer&) = delete;
  TPasLibVlcPlayer& operator=(const TPasLibVlcPlayer&) = delete;

  // Added to every media this player opens ("network-caching=100", ...); empty lines are
  // skipped. Every media also gets "no-video-title-show".
  std::vector<std::string> MediaOptions{"http-caching=1200"};
  std::string SnapShotFmt = "png";

  // The native window the picture goes to (an X11 window id); 0 plays without a picture area.
  void SetVideoWindow(uint32_t xid);

  // Opens a file path or stream address and plays it. For http:// addresses waits up to
  // TimeoutMs (10 ms steps) for playing to start, restarting once when the media ends
  // during the wait. A media that cannot be opened raises nothing: the error event tells.
  void Play(const std::string& address, int timeoutMs = 10000);
  void Stop();
  void Pause();
  void Resume();
  void SetMute(bool mute);
  bool GetMute() const;
  TPasLibVlcPlayerState GetState() const;
  bool IsPlay() const;

  // Length and position in milliseconds (-1 / 0 when not known), and as time texts by the
  // patterns "hh:mm:ss,mcs" and "hh:mm:ss".
  int64_t GetVideoLenInMs() const;
  int64_t GetVideoPosInMs() const;
  std::string GetVideoLenStr(const std::string& pattern) const;
  std::string GetVideoPosStr(const std::string& pattern) const;
  // Position as a percentage 0..100.
  double GetVideoPosInPercent() const;
  void SetVideoPosInPercent(double percent);

  // The text overlay of control panels.
  void SetMarqueeText(const std::string& text);
  void SetMarqueeEnable(bool enable);
  void SetMarqueeColor(uint32_t rgb);
  void SetMarqueeSize(int size);

  // Events, run on the user-interface thread.
  std::function<void(int64_t lengthMs)> OnMediaPlayerLengthChanged;
  std::function<void(double position)> OnMediaPlayerPositionChanged;  // 0..1
  std::function<void()> OnMediaPlayerEndReached;
  std::function<void()> OnMediaPlayerEncounteredError;
  std::function<void(TPasLibVlcPlayerState)> OnMediaPlayerStateChanged;

private:
  struct TEventLink;
  void Attach();
  static void EventCallback(const libvlc_event_t* ev, void* data);
  void Post(std::function<void()> fn);
  IOperator* FOp;
  libvlc_media_player_t* FPlayer = nullptr;
  uint32_t FWindow = 0;
  std::shared_ptr<TEventLink> FLink;
};

// The length of a media file in milliseconds: FFmpeg's container length (MediaFileLengthMs),
// and where that gives none the player's. Nothing when the file cannot be read within
// TimeoutMs.
std::optional<int64_t> ProbeMediaLength(const std::string& path, int timeoutMs = 10000);
// The length as the player reports it, found without a picture or sound: nothing when the file
// cannot be read within TimeoutMs or libvlc is missing.
std::optional<int64_t> PlayerMediaLength(const std::string& path, int timeoutMs = 10000);

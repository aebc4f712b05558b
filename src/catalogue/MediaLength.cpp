#include "catalogue/MediaLength.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <mutex>

namespace {

void Quiet() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The longest stream length when the container itself tells none.
std::optional<int64_t> LongestStreamMs(const AVFormatContext* ic) {
  std::optional<int64_t> best;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) continue;
    double ms = static_cast<double>(st->duration) * av_q2d(st->time_base) * 1000.0;
    int64_t v = std::llround(ms);
    if (!best || v > *best) best = v;
  }
  return best;
}

}  // namespace

std::optional<int64_t> MediaFileLengthMs(const std::string& path) {
  Quiet();
  AVFormatContext* ic = nullptr;
  if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::optional<int64_t> result;
  if (avformat_find_stream_info(ic, nullptr) >= 0) {
    // For MPEG-TS and other streams without an index libavformat estimates the duration from
    // the time stamps at the head and the tail of the file, as ffprobe reports it.
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
      result = std::llround(static_cast<double>(ic->duration) * 1000.0 / AV_TIME_BASE);
    } else {
      result = LongestStreamMs(ic);
    }
  }
  avformat_close_input(&ic);
  if (result && *result <= 0) result.reset();
  return result;
}

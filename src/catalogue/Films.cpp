#include "catalogue/Films.h"

#include <algorithm>
#include <cmath>

#include "base/CommonProcedures.h"
#include "catalogue/EncoderJobs.h"
#include "catalogue/MediaLength.h"
#include "shell/Options.h"

std::string FilmAbsolutePath(const std::string& videoRoot, const std::string& fileName) {
  if (videoRoot.empty()) return "";
  return JoinRootPath(videoRoot, fileName);
}

TFilmFileChoice ChooseFilmFile(const std::string& videoRoot, const std::string& chosen) {
  TFilmFileChoice c;
  if (videoRoot.empty() || !IsBelowRoot(videoRoot, chosen)) {
    c.Error = "File \"" + chosen + "\" placed not in Video root directory \"" + videoRoot +
              "\" or in it subdirectories!";
    return c;
  }
  c.Accepted = true;
  c.FileName = ToStoredPath(PathBelowRoot(videoRoot, chosen));
  std::string base = chosen.substr(chosen.find_last_of('/') + 1);
  size_t dot = base.find_last_of('.');
  c.Name = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  return c;
}

double TimeBarSeekPercent(int barValue) {
  return std::clamp(barValue / 10.0, 0.0, 99.5);
}

int TimeBarOfPosition(double position) {
  return std::clamp(static_cast<int>(std::lround(position * 1000.0)), 0, 1000);
}

std::string FilmLengthText(const std::string& path, int64_t playerLengthMs) {
  std::optional<int64_t> len = path.empty() ? std::nullopt : MediaFileLengthMs(path);
  int64_t ms = len ? *len : std::max<int64_t>(playerLengthMs, 0);
  return MediaTimeToStr("hh:mm:ss,mcs", ms);
}

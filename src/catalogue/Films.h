#pragma once
// Rules of the films window that need no window: where a film's file is, whether a chosen file
// may be catalogued and under which name, how the time bar maps to the player's position, and
// the length a film gets.
#include <cstdint>
#include <optional>
#include <string>

// The absolute (native) path of a film's file: the video root joined with its stored
// FileName; "" when the root is unknown.
std::string FilmAbsolutePath(const std::string& videoRoot, const std::string& fileName);

// The outcome of choosing a file for a film.
struct TFilmFileChoice {
  bool Accepted = false;
  std::string FileName;  // stored form relative to the root ("serials\ep01.m2t")
  std::string Name;      // the file name without its extension
  std::string Error;     // the message when refused
};
// A chosen absolute path must lie below the video root (compared without regard to case).
TFilmFileChoice ChooseFilmFile(const std::string& videoRoot, const std::string& chosen);

// The time bar runs 0..1000 (tenths of a percent); a hand-made move seeks there, at most to
// 99.5 percent so the film does not end under the operator's hand.
double TimeBarSeekPercent(int barValue);
// The bar position of a player position 0..1.
int TimeBarOfPosition(double position);

// The length of a film's file as "hh:mm:ss,mcs": FFmpeg's container length of the file, and
// the player's reported length only where that gives none. "00:00:00,000" when neither is
// known.
std::string FilmLengthText(const std::string& path, int64_t playerLengthMs);

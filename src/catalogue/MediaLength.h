#pragma once
// The length of a media file as FFmpeg's container reader (libavformat) sees it: the
// container's duration, which for MPEG transport streams is the span of the presentation time
// stamps (first to last, plus the last frame). This is the length every part of the console
// stores for a film: the probe command, the encoder's measurement and the films window.
#include <cstdint>
#include <optional>
#include <string>

// Milliseconds, rounded; nothing when the file cannot be opened or tells no length.
std::optional<int64_t> MediaFileLengthMs(const std::string& path);

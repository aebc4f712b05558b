// The media readers (libavformat, libavutil), opened when a media file's length is first measured:
// the functions MediaLength calls, forwarded to the libraries the headers belong to.
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include "base/LazyLibrary.h"

namespace {
// The library versions of the headers the program was built with.
#define PELMORA_SONAME(lib, major) "lib" #lib ".so." AV_STRINGIFY(major)
#define PELMORA_DEBIAN(lib, major) "lib" #lib AV_STRINGIFY(major)
TLazyLibrary AvFormat(PELMORA_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR),
                      PELMORA_DEBIAN(avformat, LIBAVFORMAT_VERSION_MAJOR),
                      "Reading the length of a media file");
TLazyLibrary AvUtil(PELMORA_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR),
                    PELMORA_DEBIAN(avutil, LIBAVUTIL_VERSION_MAJOR),
                    "Reading the length of a media file");
}  // namespace

PELMORA_LAZY_FUNCTION(AvUtil, void, av_log_set_level, (int level), (level))
PELMORA_LAZY_FUNCTION(AvFormat, int, avformat_open_input,
                      (AVFormatContext** ps, const char* url, const AVInputFormat* fmt,
                       AVDictionary** options),
                      (ps, url, fmt, options))
PELMORA_LAZY_FUNCTION(AvFormat, int, avformat_find_stream_info,
                      (AVFormatContext* ic, AVDictionary** options), (ic, options))
PELMORA_LAZY_FUNCTION(AvFormat, void, avformat_close_input, (AVFormatContext** s), (s))

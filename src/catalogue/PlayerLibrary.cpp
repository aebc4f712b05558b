// The player library (libvlc), opened when a player or a length measured by playing is first
// needed: the functions the player unit calls, forwarded to the library.
#include <vlc/vlc.h>

#include "base/LazyLibrary.h"

namespace {
TLazyLibrary LibVlc("libvlc.so.5", "libvlc5", "Playing and measuring media");
}  // namespace

#define VLC_FUNCTION(Ret, Name, Params, Args) PELMORA_LAZY_FUNCTION(LibVlc, Ret, Name, Params, Args)

using TPlayer = libvlc_media_player_t;

VLC_FUNCTION(libvlc_instance_t*, libvlc_new, (int argc, const char* const* argv), (argc, argv))
VLC_FUNCTION(libvlc_media_t*, libvlc_media_new_path, (libvlc_instance_t* i, const char* path),
             (i, path))
VLC_FUNCTION(libvlc_media_t*, libvlc_media_new_location, (libvlc_instance_t* i, const char* mrl),
             (i, mrl))
VLC_FUNCTION(void, libvlc_media_add_option, (libvlc_media_t* m, const char* option), (m, option))
VLC_FUNCTION(void, libvlc_media_release, (libvlc_media_t* m), (m))
VLC_FUNCTION(libvlc_time_t, libvlc_media_get_duration, (libvlc_media_t* m), (m))
VLC_FUNCTION(libvlc_media_parsed_status_t, libvlc_media_get_parsed_status, (libvlc_media_t* m),
             (m))
VLC_FUNCTION(int, libvlc_media_parse_with_options,
             (libvlc_media_t* m, libvlc_media_parse_flag_t flags, int timeout),
             (m, flags, timeout))
VLC_FUNCTION(TPlayer*, libvlc_media_player_new, (libvlc_instance_t* i), (i))
VLC_FUNCTION(TPlayer*, libvlc_media_player_new_from_media, (libvlc_media_t* m), (m))
VLC_FUNCTION(void, libvlc_media_player_release, (TPlayer* p), (p))
VLC_FUNCTION(void, libvlc_media_player_set_media, (TPlayer* p, libvlc_media_t* m), (p, m))
VLC_FUNCTION(libvlc_event_manager_t*, libvlc_media_player_event_manager, (TPlayer* p), (p))
VLC_FUNCTION(int, libvlc_media_player_is_playing, (TPlayer* p), (p))
VLC_FUNCTION(int, libvlc_media_player_play, (TPlayer* p), (p))
VLC_FUNCTION(void, libvlc_media_player_set_pause, (TPlayer* p, int pause), (p, pause))
VLC_FUNCTION(void, libvlc_media_player_stop, (TPlayer* p), (p))
VLC_FUNCTION(void, libvlc_media_player_set_xwindow, (TPlayer* p, uint32_t drawable), (p, drawable))
VLC_FUNCTION(libvlc_time_t, libvlc_media_player_get_length, (TPlayer* p), (p))
VLC_FUNCTION(libvlc_time_t, libvlc_media_player_get_time, (TPlayer* p), (p))
VLC_FUNCTION(float, libvlc_media_player_get_position, (TPlayer* p), (p))
VLC_FUNCTION(void, libvlc_media_player_set_position, (TPlayer* p, float pos), (p, pos))
VLC_FUNCTION(libvlc_state_t, libvlc_media_player_get_state, (TPlayer* p), (p))
VLC_FUNCTION(int, libvlc_audio_get_mute, (TPlayer* p), (p))
VLC_FUNCTION(void, libvlc_audio_set_mute, (TPlayer* p, int status), (p, status))
VLC_FUNCTION(void, libvlc_video_set_key_input, (TPlayer* p, unsigned on), (p, on))
VLC_FUNCTION(void, libvlc_video_set_mouse_input, (TPlayer* p, unsigned on), (p, on))
VLC_FUNCTION(void, libvlc_video_set_marquee_int, (TPlayer* p, unsigned option, int value),
             (p, option, value))
VLC_FUNCTION(void, libvlc_video_set_marquee_string,
             (TPlayer* p, unsigned option, const char* text), (p, option, text))
VLC_FUNCTION(int, libvlc_event_attach,
             (libvlc_event_manager_t* m, libvlc_event_type_t type, libvlc_callback_t fn,
              void* data),
             (m, type, fn, data))
VLC_FUNCTION(void, libvlc_event_detach,
             (libvlc_event_manager_t* m, libvlc_event_type_t type, libvlc_callback_t fn,
              void* data),
             (m, type, fn, data))

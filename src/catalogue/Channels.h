#pragma once
// Rules of the Channels records that other rooms read.
#include <cstdint>

// The "Type" of a channel record.
enum TChannelType : int64_t {
  ChTypeBySchedule = 0,  // plays films by its channel schedule, with commands beside them
  ChTypeHeadend = 1,     // relays a stream; it has no schedule of its own
  ChTypeCommand = 2,     // carries commands only
};

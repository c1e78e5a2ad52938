#pragma once

#include <cstdint>

namespace relaycast {

// The sides, in pixels, of a picture size of its own (an input's or a destination's): what the
// host scales to and the encoders take. A size read from anywhere else must be within them too.
inline constexpr int32_t kMinOwnSide = 160;
inline constexpr int32_t kMaxOwnSide = 7680;

} // namespace relaycast

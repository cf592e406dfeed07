// One colour per output, the same in every picture of the program. They come
// from Okabe and Ito's palette, which colour-blind operators tell apart as
// well; pictures also give each output its own line style, so that a grey
// print still shows which is which.
#pragma once

#include <array>
#include <cstdint>

#include "px418_protocol.h"

// 0xRRGGBB by channel: A vermillion, B blue, C bluish green.
constexpr std::array<std::uint32_t, PX418_OUTPUTS> kOutputRgb = {0xD55E00, 0x0072B2, 0x009E73};

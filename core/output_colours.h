// One colour per output, the same in every picture of the program. They come
// from Okabe and Ito's palette, which colour-blind operators tell apart as
// well; pictures also give each output its own line style, so that a grey
// print still shows which is which.
#pragma once

#include <array>
#include <cstdint>

#include "px418_protocol.h"

// 0xRRGGBB by channel: A vermillion, B blue, C bluish green. For lines and
// arrows.
constexpr std::array<std::uint32_t, PX418_OUTPUTS> kOutputRgb = {0xD55E00, 0x0072B2, 0x009E73};

// Text on white needs a contrast of 4.5:1 to be read at small sizes: the
// same hues, darkened as far as that takes (B's blue already reads).
constexpr std::array<std::uint32_t, PX418_OUTPUTS> kOutputTextRgb = {0xC05500, 0x0072B2, 0x008460};
// Secondary text (notes, the greyed text of an off-line picture) on white,
// just readable at small sizes; off-line lines and arrows keep a lighter grey.
constexpr std::uint32_t kNoteTextRgb = 0x757575;
constexpr std::uint32_t kOffLineLineRgb = 0xA0A0A0;

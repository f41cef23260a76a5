#pragma once

#include "kinetra/export.hpp"

namespace kinetra {

// Musical time is counted in pips, 64 to the beat.
inline constexpr int PIPS_PER_BEAT = 64;

// Position offset returned by every pattern: x lateral, y vertical (negative is up), z depth.
struct Offset3 {
    double x;
    double y;
    double z;
};

// Euclidean fold of pip into [0, period); 0 for a period of 0 or less. Never overflows.
KINETRA_API int wrap_pip(int pip, int period) noexcept;

// Procedural dance moves.
KINETRA_API Offset3 bounce(int pip) noexcept;
KINETRA_API Offset3 sway(int pip) noexcept;
KINETRA_API Offset3 circle(int pip) noexcept;
KINETRA_API Offset3 figure_eight(int pip) noexcept;
KINETRA_API Offset3 step_touch(int pip) noexcept;
KINETRA_API Offset3 box_step(int pip) noexcept;
KINETRA_API Offset3 helix(int pip) noexcept;
KINETRA_API Offset3 clay_background(int pip) noexcept;

// Drum rudiments rendered as hand motion.
KINETRA_API Offset3 single_stroke_roll(int pip) noexcept;
KINETRA_API Offset3 double_stroke_roll(int pip) noexcept;
KINETRA_API Offset3 multiple_bounce_roll(int pip) noexcept;
KINETRA_API Offset3 single_paradiddle(int pip) noexcept;
KINETRA_API Offset3 flam(int pip) noexcept;
KINETRA_API Offset3 drag(int pip) noexcept;
KINETRA_API Offset3 five_stroke_roll(int pip) noexcept;

}  // namespace kinetra

#include "procedural.hpp"

namespace kinetra::detail {

// constinit: constant data, read-only after relocation; nothing fills it at load time.
constinit const PatternEntry procedural_patterns[procedural_count] = {
    {"bounce", "One-beat vertical bounce", 64, 1, &bounce},
    {"sway", "Two-beat side-to-side sway", 128, 1, &sway},
    {"circle", "One-beat circular orbit", 64, 2, &circle},
    {"figure_eight", "Two-beat figure eight", 128, 2, &figure_eight},
    {"step_touch", "Two-beat side step with a small lift", 128, 2, &step_touch},
    {"box_step", "Four-beat softened square path", 256, 2, &box_step},
    {"helix", "Four-beat double-turn helix", 256, 3, &helix},
    {"clay_background", "Sculpted four-beat accented background drift", 256, 2, &clay_background},
    {"single_stroke_roll", "Alternating R/L strokes with smooth attack and decay", 64, 2, &single_stroke_roll},
    {"double_stroke_roll", "RRLL strokes with a softer second motion", 64, 2, &double_stroke_roll},
    {"multiple_bounce_roll", "Decaying same-hand bounce clusters", 64, 2, &multiple_bounce_roll},
    {"single_paradiddle", "RLRR LRLL with accented lead strokes", 128, 2, &single_paradiddle},
    {"flam", "Grace motion flowing into an opposite-hand primary motion", 64, 2, &flam},
    {"drag", "Two grace motions flowing into an opposite-hand primary motion", 64, 2, &drag},
    {"five_stroke_roll", "Two diddles resolving to an accented fifth motion", 128, 2, &five_stroke_roll},
};

namespace {

// Positions in procedural_patterns.
enum : std::size_t {
    kBounce, kSway, kCircle, kFigureEight, kStepTouch, kBoxStep, kHelix, kClayBackground,
    kSingleStrokeRoll, kDoubleStrokeRoll, kMultipleBounceRoll, kSingleParadiddle, kFlam, kDrag,
    kFiveStrokeRoll,
};

std::size_t match(std::string_view name, std::size_t candidate) noexcept {
    return name == procedural_patterns[candidate].name ? candidate : procedural_count;
}

}  // namespace

std::size_t find_procedural(std::string_view name) noexcept {
    // The length picks at most a few candidates; only those are compared byte for byte.
    switch (name.size()) {
    case 4:
        if (name[0] == 's') return match(name, kSway);
        if (name[0] == 'f') return match(name, kFlam);
        return match(name, kDrag);
    case 5: return match(name, kHelix);
    case 6: return name[0] == 'b' ? match(name, kBounce) : match(name, kCircle);
    case 8: return match(name, kBoxStep);
    case 10: return match(name, kStepTouch);
    case 12: return match(name, kFigureEight);
    case 15: return match(name, kClayBackground);
    case 16: return match(name, kFiveStrokeRoll);
    case 17: return match(name, kSingleParadiddle);
    case 18: return name[0] == 's' ? match(name, kSingleStrokeRoll) : match(name, kDoubleStrokeRoll);
    case 20: return match(name, kMultipleBounceRoll);
    default: return procedural_count;
    }
}

}  // namespace kinetra::detail

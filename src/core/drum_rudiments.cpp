#include <cmath>
#include <cstddef>
#include <iterator>

#include "kinetra/core.hpp"

namespace kinetra {

namespace {

struct Stroke {
    int onset_pip;
    int hand;  // +1 right hand (toward +x), -1 left hand (toward -x)
    double amplitude;
    int duration_pips;
};

constexpr int R = 1;
constexpr int L = -1;
constexpr double kPi = 3.141592653589793;
constexpr double kLiftGain = 0.72;

// Sums a sin^2 bump per sounding stroke: sideways toward the striking hand and upward.
Offset3 stroke_pose(int pip, int cycle_pips, const Stroke* strokes, std::size_t count) noexcept {
    double side = 0.0;
    double lift = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Stroke& stroke = strokes[i];
        const int c = wrap_pip(pip, cycle_pips);
        const int elapsed = wrap_pip(c - stroke.onset_pip, cycle_pips);
        if (elapsed < stroke.duration_pips) {
            const double s = std::sin(
                (static_cast<double>(elapsed) / static_cast<double>(stroke.duration_pips)) * kPi);
            const double w = (stroke.amplitude * s) * s;
            lift = lift - kLiftGain * w;
            side = w * static_cast<double>(stroke.hand) + side;
        }
    }
    if (side < -1.0) side = -1.0;
    if (side > 1.0) side = 1.0;
    if (lift < -1.0) lift = -1.0;
    if (lift > 1.0) lift = 1.0;
    return {side, lift, 0.0};
}

constexpr Stroke kSingleStrokeRoll[] = {
    {0, R, 0.92, 8},  {8, L, 0.92, 8},  {16, R, 0.92, 8}, {24, L, 0.92, 8},
    {32, R, 0.92, 8}, {40, L, 0.92, 8}, {48, R, 0.92, 8}, {56, L, 0.92, 8},
};
constexpr Stroke kDoubleStrokeRoll[] = {
    {0, R, 0.88, 8},  {8, R, 0.72, 8},  {16, L, 0.88, 8}, {24, L, 0.72, 8},
    {32, R, 0.88, 8}, {40, R, 0.72, 8}, {48, L, 0.88, 8}, {56, L, 0.72, 8},
};
constexpr Stroke kMultipleBounceRoll[] = {
    {0, R, 0.92, 6},  {6, R, 0.68, 6},  {12, R, 0.48, 6}, {18, R, 0.32, 6},
    {32, L, 0.92, 6}, {38, L, 0.68, 6}, {44, L, 0.48, 6}, {50, L, 0.32, 6},
};
constexpr Stroke kSingleParadiddle[] = {
    {0, R, 1.0, 8},  {8, L, 0.72, 8},   {16, R, 0.72, 8},  {24, R, 0.72, 8},
    {32, L, 1.0, 8}, {40, R, 0.72, 8},  {48, L, 0.72, 8},  {56, L, 0.72, 8},
    {64, R, 1.0, 8}, {72, L, 0.72, 8},  {80, R, 0.72, 8},  {88, R, 0.72, 8},
    {96, L, 1.0, 8}, {104, R, 0.72, 8}, {112, L, 0.72, 8}, {120, L, 0.72, 8},
};
constexpr Stroke kFlam[] = {
    {0, L, 0.34, 10},
    {5, R, 0.9, 14},
    {32, R, 0.34, 10},
    {37, L, 0.9, 14},
};
constexpr Stroke kDrag[] = {
    {0, L, 0.28, 8},  {5, L, 0.32, 8},  {10, R, 0.88, 14},
    {32, R, 0.28, 8}, {37, R, 0.32, 8}, {42, L, 0.88, 14},
};
constexpr Stroke kFiveStrokeRoll[] = {
    {0, R, 0.72, 9},  {8, R, 0.62, 9},  {16, L, 0.72, 9}, {24, L, 0.62, 9}, {36, R, 1.0, 14},
    {64, L, 0.72, 9}, {72, L, 0.62, 9}, {80, R, 0.72, 9}, {88, R, 0.62, 9}, {100, L, 1.0, 14},
};

}  // namespace

Offset3 single_stroke_roll(int pip) noexcept {
    return stroke_pose(pip, 64, kSingleStrokeRoll, std::size(kSingleStrokeRoll));
}
Offset3 double_stroke_roll(int pip) noexcept {
    return stroke_pose(pip, 64, kDoubleStrokeRoll, std::size(kDoubleStrokeRoll));
}
Offset3 multiple_bounce_roll(int pip) noexcept {
    return stroke_pose(pip, 64, kMultipleBounceRoll, std::size(kMultipleBounceRoll));
}
Offset3 single_paradiddle(int pip) noexcept {
    return stroke_pose(pip, 128, kSingleParadiddle, std::size(kSingleParadiddle));
}
Offset3 flam(int pip) noexcept { return stroke_pose(pip, 64, kFlam, std::size(kFlam)); }
Offset3 drag(int pip) noexcept { return stroke_pose(pip, 64, kDrag, std::size(kDrag)); }
Offset3 five_stroke_roll(int pip) noexcept {
    return stroke_pose(pip, 128, kFiveStrokeRoll, std::size(kFiveStrokeRoll));
}

}  // namespace kinetra

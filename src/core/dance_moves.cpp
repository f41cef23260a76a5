#include <cmath>

#include "kinetra/core.hpp"
#include "smoothstep.hpp"

namespace kinetra {

namespace {

constexpr double kOneOver32 = 0.03125;
constexpr double kOneOver64 = 0.015625;
constexpr double kOneOver128 = 0.0078125;
constexpr double kOneOver256 = 0.00390625;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kFourPi = 12.566370614359172;
constexpr double kLiftDepth = 0.35;

struct Corner {
    double x;
    double y;
};

// Corners visited by box_step, one side per beat; side s runs from corner s to corner s + 1.
constexpr Corner kBoxCorners[5] = {
    {-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}, {-1.0, -1.0}};

// Half-beat steps of step_touch: from -1 to 0, 0 to 1, 1 to 0, 0 to -1.
constexpr double kStepFrom[4] = {-1.0, 0.0, 1.0, 0.0};
constexpr double kStepTo[4] = {0.0, 1.0, 0.0, -1.0};

}  // namespace

Offset3 bounce(int pip) noexcept {
    const double p = wrap_pip(pip, 64);
    return {1.0 - std::fabs(p * kOneOver64 - 0.5) * 4.0, 0.0, 0.0};
}

Offset3 sway(int pip) noexcept {
    const double p = wrap_pip(pip, 128);
    return {std::sin((p * kOneOver128) * kTwoPi), 0.0, 0.0};
}

Offset3 circle(int pip) noexcept {
    const double p = wrap_pip(pip, 64);
    const double angle = (p * kOneOver64) * kTwoPi - kHalfPi;
    double s;
    double c;
    ::sincos(angle, &s, &c);
    return {c, s, 0.0};
}

Offset3 figure_eight(int pip) noexcept {
    const double p = wrap_pip(pip, 128);
    const double a = (p * kOneOver128) * kTwoPi;
    return {std::sin(a), std::sin(a + a), 0.0};
}

Offset3 step_touch(int pip) noexcept {
    const int folded = wrap_pip(pip, 128);
    const int step = folded / 32;
    const double t = (folded % 32) * kOneOver32;
    const double from = kStepFrom[step];
    const double x = detail::smoothstep(t) * (kStepTo[step] - from) + from;
    const double y = -(std::sin(t * kPi) * kLiftDepth);
    return {x, y, 0.0};
}

Offset3 box_step(int pip) noexcept {
    const int folded = wrap_pip(pip, 256);
    const int side = folded / 64;
    const double e = detail::smoothstep((folded % 64) * kOneOver64);
    const Corner from = kBoxCorners[side];
    const Corner to = kBoxCorners[side + 1];
    return {(to.x - from.x) * e + from.x, (to.y - from.y) * e + from.y, 0.0};
}

Offset3 helix(int pip) noexcept {
    const double p = wrap_pip(pip, 256);
    const double u = p * kOneOver256;
    double s;
    double c;
    ::sincos(u * kFourPi, &s, &c);
    return {c, s, std::sin(u * kTwoPi)};
}

}  // namespace kinetra

#include <array>

#include "kinetra/core.hpp"
#include "smoothstep.hpp"

namespace kinetra {

namespace {

struct ClayKeyframe {
    int pip;
    double x;
    double y;
};

// The x values are the doubles nearest to n/14; the last keyframe closes the loop at pip 256.
constexpr ClayKeyframe kClayKeyframes[14] = {
    {0, 0.0, 0.0},
    {23, 0.14285714285714285, -0.1},
    {33, 0.9285714285714286, -0.8},
    {49, 0.35714285714285715, -0.4},
    {87, -0.21428571428571427, 0.2},
    {100, -1.0, 0.9},
    {118, -0.35714285714285715, 0.5},
    {154, 0.07142857142857142, 0.0},
    {169, 0.8571428571428571, 1.0},
    {187, 0.2857142857142857, 0.5},
    {215, -0.14285714285714285, -0.2},
    {228, -0.7142857142857143, -0.9},
    {243, -0.21428571428571427, -0.3},
    {256, 0.0, 0.0},
};

constexpr int kClayPeriod = 256;

std::array<Offset3, kClayPeriod> build_clay_table() {
    std::array<Offset3, kClayPeriod> table{};
    int k = 0;
    for (int i = 0; i < kClayPeriod; ++i) {
        // A row on a keyframe's pip belongs to the segment that ends there (t = 1).
        while (k + 1 <= 13 && i > kClayKeyframes[k + 1].pip) {
            ++k;
        }
        const ClayKeyframe& a = kClayKeyframes[k];
        const ClayKeyframe& b = kClayKeyframes[k + 1];
        const double t = static_cast<double>(i - a.pip) / static_cast<double>(b.pip - a.pip);
        const double e = detail::smoothstep(t);
        table[i] = {(b.x - a.x) * e + a.x, (b.y - a.y) * e + a.y, 0.0};
    }
    return table;
}

// Filled once by the library's static initialisation, read-only afterwards.
const std::array<Offset3, kClayPeriod> clay_table = build_clay_table();

}  // namespace

Offset3 clay_background(int pip) noexcept { return clay_table[wrap_pip(pip, kClayPeriod)]; }

}  // namespace kinetra

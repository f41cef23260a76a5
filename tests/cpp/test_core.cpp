#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kinetra/core.hpp"

namespace {

using kinetra::Offset3;
using Move = Offset3 (*)(int);

bool same_bits(const Offset3& a, const Offset3& b) {
    return std::memcmp(&a, &b, sizeof(Offset3)) == 0;
}

struct WrapCase {
    int pip;
    int period;
    int expected;
};

TEST(WrapPip, FoldsIntoThePeriod) {
    const WrapCase cases[] = {
        {0, 64, 0},
        {63, 64, 63},
        {64, 64, 0},
        {-1, 64, 63},
        {-64, 64, 0},
        {-65, 64, 63},
        {5, 0, 0},
        {5, -7, 0},
        {INT_MIN, 64, 0},
        {INT_MIN, 100, 52},
        {INT_MAX, 64, 63},
        {INT_MAX, 100, 47},
        {INT_MIN, 0, 0},
        {INT_MIN, -1, 0},
        {INT_MIN, INT_MIN, 0},
        {INT_MAX, INT_MAX, 0},
        {INT_MIN, INT_MAX, INT_MAX - 1},
        {-1, INT_MAX, INT_MAX - 1},
        {7, 1, 0},
        {-7, 1, 0},
    };
    for (const WrapCase& c : cases) {
        EXPECT_EQ(kinetra::wrap_pip(c.pip, c.period), c.expected) << c.pip << " mod " << c.period;
    }
}

struct NamedMove {
    const char* name;
    Move move;
    int period;
};

const NamedMove kMoves[] = {
    {"bounce", &kinetra::bounce, 64},
    {"sway", &kinetra::sway, 128},
    {"circle", &kinetra::circle, 64},
    {"figure_eight", &kinetra::figure_eight, 128},
    {"step_touch", &kinetra::step_touch, 128},
    {"box_step", &kinetra::box_step, 256},
    {"helix", &kinetra::helix, 256},
    {"clay_background", &kinetra::clay_background, 256},
    {"single_stroke_roll", &kinetra::single_stroke_roll, 64},
    {"double_stroke_roll", &kinetra::double_stroke_roll, 64},
    {"multiple_bounce_roll", &kinetra::multiple_bounce_roll, 64},
    {"single_paradiddle", &kinetra::single_paradiddle, 128},
    {"flam", &kinetra::flam, 64},
    {"drag", &kinetra::drag, 64},
    {"five_stroke_roll", &kinetra::five_stroke_roll, 128},
};

class EveryMove : public ::testing::TestWithParam<NamedMove> {};

TEST_P(EveryMove, RepeatsBitForBitAcrossTheWholeIntRange) {
    const NamedMove& m = GetParam();
    for (int pip = 0; pip < m.period; ++pip) {
        const Offset3 base = m.move(pip);
        // The largest and the most negative multiples of the period that keep pip + k*period an
        // int.
        const long long k_high = (static_cast<long long>(INT_MAX) - pip) / m.period;
        const long long k_low = (static_cast<long long>(INT_MIN) - pip) / m.period;
        for (long long k : {k_low, k_low + 1, -1LL, 1LL, k_high - 1, k_high}) {
            const int shifted = static_cast<int>(pip + k * m.period);
            ASSERT_TRUE(same_bits(base, m.move(shifted))) << m.name << " pip " << pip << " k " << k;
        }
    }
}

TEST_P(EveryMove, StaysWithinUnitRange) {
    const NamedMove& m = GetParam();
    for (int pip = -m.period; pip < 2 * m.period; ++pip) {
        const Offset3 o = m.move(pip);
        for (double v : {o.x, o.y, o.z}) {
            ASSERT_TRUE(std::isfinite(v) && v >= -1.0 && v <= 1.0)
                << m.name << " pip " << pip << " value " << v;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Procedural, EveryMove, ::testing::ValuesIn(kMoves),
                         [](const auto& info) { return std::string(info.param.name); });

struct Example {
    const char* name;
    Move move;
    int pip;
    Offset3 expected;
};

// Exact values from the closed formulas; compared with == (so 0.0 and -0.0 are alike here;
// the sign of zero is checked separately where it matters).
const Example kExamples[] = {
    {"bounce", &kinetra::bounce, 0, {-1, 0, 0}},
    {"bounce", &kinetra::bounce, 16, {0, 0, 0}},
    {"bounce", &kinetra::bounce, 32, {1, 0, 0}},
    {"bounce", &kinetra::bounce, -1, {-0.9375, 0, 0}},
    {"bounce", &kinetra::bounce, 63, {-0.9375, 0, 0}},
    {"sway", &kinetra::sway, 32, {1, 0, 0}},
    {"sway", &kinetra::sway, 96, {-1, 0, 0}},
    {"circle", &kinetra::circle, 16, {1, 0, 0}},
    {"circle", &kinetra::circle, 0, {6.123233995736766e-17, -1, 0}},
    {"circle", &kinetra::circle, 48, {-1, 1.2246467991473532e-16, 0}},
    {"figure_eight", &kinetra::figure_eight, 16, {0.7071067811865475, 1, 0}},
    {"step_touch", &kinetra::step_touch, 16, {-0.5, -0.35, 0}},
    {"step_touch", &kinetra::step_touch, 48, {0.5, -0.35, 0}},
    {"step_touch", &kinetra::step_touch, 64, {1, -0.0, 0}},
    {"box_step", &kinetra::box_step, 0, {-1, -1, 0}},
    {"box_step", &kinetra::box_step, 64, {1, -1, 0}},
    {"box_step", &kinetra::box_step, 128, {1, 1, 0}},
    {"box_step", &kinetra::box_step, 192, {-1, 1, 0}},
    {"box_step", &kinetra::box_step, 32, {0, -1, 0}},
    {"helix", &kinetra::helix, 64, {-1, 1.2246467991473532e-16, 1}},
    {"clay_background", &kinetra::clay_background, 0, {0, 0, 0}},
    {"clay_background", &kinetra::clay_background, 23, {0.14285714285714285, -0.1, 0}},
    {"clay_background", &kinetra::clay_background, 49, {0.3571428571428572, -0.4, 0}},
    {"clay_background", &kinetra::clay_background, 100, {-1, 0.8999999999999999, 0}},
    {"clay_background",
     &kinetra::clay_background,
     -1,
     {-0.0036088172182846823, -0.005052344105598516, 0}},
    {"clay_background",
     &kinetra::clay_background,
     255,
     {-0.0036088172182846823, -0.005052344105598516, 0}},
    {"single_stroke_roll", &kinetra::single_stroke_roll, 0, {0, 0, 0}},
    {"single_stroke_roll", &kinetra::single_stroke_roll, 4, {0.92, -0.6624, 0}},
    {"single_stroke_roll", &kinetra::single_stroke_roll, 12, {-0.92, -0.6624, 0}},
    {"single_stroke_roll", &kinetra::single_stroke_roll, -60, {0.92, -0.6624, 0}},
    {"double_stroke_roll", &kinetra::double_stroke_roll, 4, {0.88, -0.6335999999999999, 0}},
    {"double_stroke_roll", &kinetra::double_stroke_roll, 12, {0.72, -0.5184, 0}},
    {"multiple_bounce_roll", &kinetra::multiple_bounce_roll, 9, {0.68, -0.48960000000000004, 0}},
    {"multiple_bounce_roll", &kinetra::multiple_bounce_roll, 63, {0, 0, 0}},
    {"single_paradiddle", &kinetra::single_paradiddle, 4, {1, -0.72, 0}},
    {"single_paradiddle", &kinetra::single_paradiddle, 36, {-1, -0.72, 0}},
    {"single_paradiddle", &kinetra::single_paradiddle, 68, {1, -0.72, 0}},
    {"flam", &kinetra::flam, 4, {-0.3075328890437411, -0.22142368011149358, 0}},
    {"flam", &kinetra::flam, 7, {-0.053103299880171206, -0.2822129843092639, 0}},
    {"flam", &kinetra::flam, 12, {0.9, -0.648, 0}},
    {"drag", &kinetra::drag, 4, {-0.28, -0.2016, 0}},
    {"drag", &kinetra::drag, 17, {0.88, -0.6335999999999999, 0}},
    {"five_stroke_roll", &kinetra::five_stroke_roll, 43, {1, -0.72, 0}},
    {"five_stroke_roll", &kinetra::five_stroke_roll, 107, {-1, -0.72, 0}},
    {"five_stroke_roll", &kinetra::five_stroke_roll, 60, {0, 0, 0}},
};

TEST(ProceduralMoves, MatchTheClosedFormulasExactly) {
    for (const Example& e : kExamples) {
        const Offset3 got = e.move(e.pip);
        EXPECT_EQ(got.x, e.expected.x) << e.name << "(" << e.pip << ").x";
        EXPECT_EQ(got.y, e.expected.y) << e.name << "(" << e.pip << ").y";
        EXPECT_EQ(got.z, e.expected.z) << e.name << "(" << e.pip << ").z";
    }
}

TEST(ProceduralMoves, StepTouchLiftIsNegativeZeroAtStepBoundaries) {
    for (int pip : {0, 32, 64, 96}) {
        EXPECT_TRUE(std::signbit(kinetra::step_touch(pip).y)) << pip;
    }
}

TEST(ProceduralMoves, ClayBackgroundPassesThroughItsKeyframes) {
    // Rows on keyframe pips come from the segment ending there, so they equal (b - a) * 1 + a.
    const int pips[] = {23, 33, 87, 118, 154, 169, 187, 215, 228, 243};
    for (int pip : pips) {
        const Offset3 row = kinetra::clay_background(pip);
        EXPECT_NEAR(row.x * 14.0, std::round(row.x * 14.0), 1e-12) << pip;
    }
    EXPECT_TRUE(same_bits(kinetra::clay_background(256), kinetra::clay_background(0)));
}

TEST(Offset3Record, HoldsAnyDouble) {
    const Offset3 o{INFINITY, -2.5, NAN};
    EXPECT_TRUE(std::isinf(o.x));
    EXPECT_EQ(o.y, -2.5);
    EXPECT_TRUE(std::isnan(o.z));
    EXPECT_EQ(kinetra::PIPS_PER_BEAT, 64);
}

}  // namespace

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kinetra/recording.hpp"

namespace {

using kinetra::SampledRecording;
using Rows = std::vector<std::vector<double>>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr int int_min = std::numeric_limits<int>::min();
constexpr int int_max = std::numeric_limits<int>::max();

const char* const bad_identifier = "Invalid identifier";
const char* const bad_time_base = "A finite positive BPM and beat origin are required";
const char* const bad_size = "Empty recording or recording resource limit exceeded";

struct Args {
    std::string name = "walk";
    std::vector<std::string> dimensions = {"x", "y"};
    Rows samples = {{0.0, 0.5}, {1.0, -1.0}};
    double bpm = 120.0;
    double beat_zero_seconds = 0.0;
    int start_pip = 0;
};

SampledRecording make(Args a) {
    return SampledRecording(std::move(a.name), std::move(a.dimensions), std::move(a.samples), a.bpm,
                            a.beat_zero_seconds, a.start_pip);
}

// The constructor's std::invalid_argument text, or "" when it succeeds.
std::string error_of(Args a) {
    try {
        make(std::move(a));
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

bool refuses_pip(const SampledRecording& r, int pip) {
    try {
        r.sample(pip);
    } catch (const std::out_of_range& e) {
        return std::string(e.what()) == "Pip outside non-looping recording";
    }
    return false;
}

Rows column(std::size_t rows, std::size_t axes) {
    return Rows(rows, std::vector<double>(axes, 0.25));
}

TEST(Recording, IdentifierRuleAppliesToNameAndEveryAxis) {
    const std::pair<std::string, bool> cases[] = {
        {"a", true},    {std::string(128, 'z'), true},
        {"a_9", true},  {std::string(129, 'z'), false},
        {"", false},    {"1a", false},
        {"_a", false},  {"aB", false},
        {"a-b", false}, {"a b", false},
        {"a.b", false}, {"caf\xc3\xa9", false},
    };
    for (const auto& [identifier, ok] : cases) {
        SCOPED_TRACE(identifier);
        Args as_name;
        as_name.name = identifier;
        EXPECT_EQ(error_of(as_name), ok ? "" : bad_identifier);
        Args as_axis;
        as_axis.dimensions = {"x", identifier};
        EXPECT_EQ(error_of(as_axis), ok ? "" : bad_identifier);
    }
}

TEST(Recording, DuplicateAxesAreComparedByteForByte) {
    Args same;
    same.dimensions = {"x", "x"};
    EXPECT_EQ(error_of(same), "Duplicate axis");
    Args upper;
    upper.dimensions = {"x", "X"};
    EXPECT_EQ(error_of(upper), bad_identifier);
    // Axis names are examined in order: the repeat is found before the bad third name.
    Args both;
    both.dimensions = {"x", "x", "Bad"};
    both.samples = {{0.0, 0.0, 0.0}};
    EXPECT_EQ(error_of(both), "Duplicate axis");
}

TEST(Recording, TimeBaseMustBeFinitePositiveAndItsBeatLengthFinite) {
    const std::pair<double, bool> bpms[] = {
        {120.0, true},   {1e-306, true}, {std::numeric_limits<double>::max(), true},
        {0.0, false},    {-0.0, false},  {-120.0, false},
        {nan, false},    {inf, false},   {-inf, false},
        {1e-307, false},
    };
    for (const auto& [bpm, ok] : bpms) {
        SCOPED_TRACE(bpm);
        Args a;
        a.bpm = bpm;
        EXPECT_EQ(error_of(a), ok ? "" : bad_time_base);
    }
    const std::pair<double, bool> origins[] = {
        {-12.5, true}, {0.0, true}, {inf, false}, {-inf, false}, {nan, false}};
    for (const auto& [origin, ok] : origins) {
        SCOPED_TRACE(origin);
        Args a;
        a.beat_zero_seconds = origin;
        EXPECT_EQ(error_of(a), ok ? "" : bad_time_base);
    }
}

TEST(Recording, EmptyAxesOrRowsAreRefused) {
    Args no_axes;
    no_axes.dimensions = {};
    no_axes.samples = {{}};
    EXPECT_EQ(error_of(no_axes), bad_size);
    Args no_rows;
    no_rows.samples = {};
    EXPECT_EQ(error_of(no_rows), bad_size);
}

TEST(Recording, ValueLimitCountsRowsTimesAxes) {
    struct Case {
        std::size_t axes;
        std::size_t rows;
        bool ok;
    };
    const Case cases[] = {
        {1, 8388608, true}, {1, 8388609, false}, {3, 2796202, true}, {3, 2796203, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.axes) + " axes, " + std::to_string(c.rows) + " rows");
        Args a;
        a.dimensions =
            c.axes == 1 ? std::vector<std::string>{"x"} : std::vector<std::string>{"x", "y", "z"};
        a.samples = column(c.rows, c.axes);
        if (!c.ok) {
            EXPECT_EQ(error_of(std::move(a)), bad_size);
            continue;
        }
        const SampledRecording r = make(std::move(a));
        EXPECT_EQ(r.sample_count(), static_cast<int>(c.rows));
        EXPECT_EQ(r.sample(static_cast<int>(c.rows) - 1), std::vector<double>(c.axes, 0.25));
    }
}

TEST(Recording, RunMustEndWithinThe32BitPipRange) {
    Args one;
    one.start_pip = int_max - 1;
    one.samples = {{0.0, 0.0}};
    const SampledRecording last = make(one);
    EXPECT_EQ(last.sample(int_max - 1), (std::vector<double>{0.0, 0.0}));
    EXPECT_TRUE(refuses_pip(last, int_max));

    Args two = one;
    two.samples = {{0.0, 0.0}, {0.0, 0.0}};
    EXPECT_EQ(error_of(two), bad_size);

    Args first;
    first.start_pip = int_min;
    first.samples = {{0.5, -0.5}};
    const SampledRecording r = make(first);
    EXPECT_EQ(r.sample(int_min), (std::vector<double>{0.5, -0.5}));
    for (const int pip : {int_min + 1, 0, int_max}) {
        EXPECT_TRUE(refuses_pip(r, pip)) << pip;
    }
}

TEST(Recording, ValuesAreCheckedAndReturnedBitForBit) {
    const double above_one = std::nextafter(1.0, 2.0);
    for (const double bad : {above_one, -above_one, nan, inf, -inf}) {
        SCOPED_TRACE(bad);
        Args a;
        a.samples = {{0.0, 0.0}, {0.0, bad}};
        EXPECT_EQ(error_of(a), "Invalid sample");
    }
    Args a;
    a.samples = {{-1.0, 1.0}, {-0.0, 0.0}};
    const SampledRecording r = make(a);
    const std::vector<double> row = r.sample(1);
    ASSERT_EQ(row.size(), 2u);
    EXPECT_TRUE(std::signbit(row[0]));
    EXPECT_FALSE(std::signbit(row[1]));
    EXPECT_EQ(r.sample(0), (std::vector<double>{-1.0, 1.0}));
}

TEST(Recording, FirstFailingStepDecides) {
    Args name_and_bpm;
    name_and_bpm.name = "Bad";
    name_and_bpm.bpm = 0.0;
    EXPECT_EQ(error_of(name_and_bpm), bad_identifier);

    Args bpm_and_size;
    bpm_and_size.bpm = nan;
    bpm_and_size.samples = {};
    EXPECT_EQ(error_of(bpm_and_size), bad_time_base);

    Args size_and_axes;
    size_and_axes.dimensions = {"x", "x"};
    size_and_axes.samples = {};
    EXPECT_EQ(error_of(size_and_axes), bad_size);

    Args value_before_short_row;
    value_before_short_row.samples = {{0.0, 0.0}, {2.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}, {0.0}};
    EXPECT_EQ(error_of(value_before_short_row), "Invalid sample");

    Args short_row_with_bad_value;
    short_row_with_bad_value.samples = {{0.0, 0.0}, {nan}};
    EXPECT_EQ(error_of(short_row_with_bad_value), "Ragged recording");

    Args long_row;
    long_row.samples = {{0.0, 0.0, 0.0}};
    EXPECT_EQ(error_of(long_row), "Ragged recording");
}

TEST(Recording, LookupCoversExactlyTheRun) {
    Rows rows;
    for (int i = 0; i < 65; ++i) {
        rows.push_back({i / 64.0, -i / 64.0});
    }
    Args a;
    a.samples = rows;
    a.bpm = 97.5;
    a.beat_zero_seconds = -12.5;
    const SampledRecording from_zero = make(a);
    EXPECT_EQ(from_zero.name(), "walk");
    EXPECT_EQ(from_zero.dimensions(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(from_zero.sample_count(), 65);
    EXPECT_EQ(from_zero.bpm(), 97.5);
    EXPECT_EQ(from_zero.beat_zero_seconds(), -12.5);
    EXPECT_EQ(from_zero.start_pip(), 0);
    for (int pip = 0; pip < 65; ++pip) {
        EXPECT_EQ(from_zero.sample(pip), rows[static_cast<std::size_t>(pip)]);
    }
    for (const int pip : {-1, 65, int_min, int_max}) {
        EXPECT_TRUE(refuses_pip(from_zero, pip)) << pip;
    }

    a.start_pip = -64;
    const SampledRecording before_zero = make(a);
    EXPECT_EQ(before_zero.sample(-64), rows[0]);
    EXPECT_EQ(before_zero.sample(0), rows[64]);
    EXPECT_TRUE(refuses_pip(before_zero, 1));
    EXPECT_TRUE(refuses_pip(before_zero, -65));
}

TEST(Recording, MovedFromRecordingHasNoRows) {
    SampledRecording source = make(Args{});
    const SampledRecording target = std::move(source);
    EXPECT_EQ(target.sample(1), (std::vector<double>{1.0, -1.0}));
    EXPECT_EQ(source.sample_count(), 0);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(refuses_pip(source, 0));
    EXPECT_TRUE(refuses_pip(source, int_max));
}

}  // namespace

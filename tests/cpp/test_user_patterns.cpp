#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "kinetra/catalogue.hpp"
#include "kinetra/user_patterns.hpp"

namespace {

using kinetra::Offset3;
using kinetra::PatternLibrary;
using kinetra::RudimentInfo;
using kinetra::SampledPattern;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr int int_min = std::numeric_limits<int>::min();

const char* const bad_name = "Invalid pattern name";
const char* const bad_count = "A pattern requires 1..65535 samples (one per pip)";
const char* const bad_value = "Pattern samples must be finite and within [-1, 1]";
const char* const too_large = "Pattern pack is too large";

// The what() of an exception of type E thrown by f, "" when nothing is thrown.
template <typename E, typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

std::string pattern_error(std::string name, std::vector<Offset3> samples) {
    return error_of<std::invalid_argument>(
        [&] { SampledPattern(std::move(name), "", std::move(samples)); });
}

std::string library_error(std::vector<SampledPattern> patterns) {
    return error_of<std::invalid_argument>([&] { PatternLibrary{std::move(patterns)}; });
}

bool same(const Offset3& a, const Offset3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

SampledPattern flat(std::string name, std::size_t count) {
    return SampledPattern(std::move(name), "", std::vector<Offset3>(count, Offset3{0.5, 0.0, 0.0}));
}

// A pattern with the built-in row's name, description and every row of the built-in lookup.
struct BuiltinCopy {
    std::string name;
    std::string description;
    std::vector<Offset3> samples;

    explicit BuiltinCopy(std::string_view wanted) : name(wanted) {
        for (const RudimentInfo& row : kinetra::catalogue()) {
            if (row.name == wanted) {
                description = row.description;
                for (int pip = 0; pip < row.period_pips; ++pip) {
                    samples.push_back(kinetra::sample(wanted, pip));
                }
            }
        }
    }
    SampledPattern make() const { return SampledPattern(name, description, samples); }
};

TEST(SampledPattern, NameRule) {
    const std::pair<std::string, bool> cases[] = {
        {"a", true},    {"ab12", true},
        {"a_b", true},  {std::string(128, 'q'), true},
        {"", false},    {std::string(129, 'q'), false},
        {"_a", false},  {"1a", false},
        {"aB", false},  {"a-b", false},
        {"a b", false}, {"\xc3\xa9t\xc3\xa9", false},
    };
    for (const auto& [name, ok] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(pattern_error(name, {{0.0, 0.0, 0.0}}), ok ? "" : bad_name);
    }
}

TEST(SampledPattern, CountRule) {
    EXPECT_EQ(pattern_error("p", {}), bad_count);
    EXPECT_EQ(pattern_error("p", std::vector<Offset3>(65536)), bad_count);
    EXPECT_EQ(flat("p", 1).info().period_pips, 1);
    EXPECT_EQ(flat("p", 65535).info().period_pips, 65535);
}

TEST(SampledPattern, ValueRuleOnEveryAxis) {
    const double above_one = std::nextafter(1.0, 2.0);
    EXPECT_EQ(pattern_error("p", {{1.0, -1.0, 1.0}, {-1.0, 1.0, -1.0}}), "");
    for (const double bad : {above_one, -above_one, nan, inf, -inf}) {
        for (int axis = 0; axis < 3; ++axis) {
            SCOPED_TRACE(std::to_string(bad) + " on axis " + std::to_string(axis));
            Offset3 row{0.0, 0.0, 0.0};
            (axis == 0 ? row.x : axis == 1 ? row.y : row.z) = bad;
            EXPECT_EQ(pattern_error("p", {{0.0, 0.0, 0.0}, row}), bad_value);
        }
    }
}

TEST(SampledPattern, RulesAreCheckedInOrder) {
    EXPECT_EQ(pattern_error("Bad", {}), bad_name);
    std::vector<Offset3> many(65536, Offset3{nan, 0.0, 0.0});
    EXPECT_EQ(pattern_error("p", many), bad_count);
}

TEST(SampledPattern, DimensionsFollowTheHighestMovingAxis) {
    const std::pair<std::vector<Offset3>, int> cases[] = {
        {{{0.3, 0.0, 0.0}, {0.0, -0.0, -0.0}}, 1},
        {{{0.0, 0.0, 0.0}, {0.0, 0.2, -0.0}}, 2},
        {{{0.0, 0.0, -0.1}, {0.0, 0.2, 0.0}}, 3},
        {{{0.0, 0.2, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}, 3},
    };
    for (const auto& [rows, dimensions] : cases) {
        EXPECT_EQ(SampledPattern("p", "", rows).info().dimensions, dimensions);
    }
}

TEST(SampledPattern, SamplingWrapsThePip) {
    const std::vector<Offset3> rows = {{0.1, 0.0, 0.0}, {0.2, 0.0, 0.0}, {0.3, 0.0, 0.0}};
    const SampledPattern p("p", "three rows", rows);
    const std::pair<int, std::size_t> cases[] = {
        {0, 0},  {3, 0}, {-3, 0},
        {-1, 2}, {4, 1}, {int_min, static_cast<std::size_t>(kinetra::wrap_pip(int_min, 3))}};
    for (const auto& [pip, row] : cases) {
        EXPECT_TRUE(same(p.sample(pip), rows[row])) << pip;
    }
    const SampledPattern one("one", "", {{0.0, 0.5, 0.0}});
    EXPECT_TRUE(same(one.sample(int_min), Offset3{0.0, 0.5, 0.0}));
}

TEST(SampledPattern, MovedFromPatternRefusesToSample) {
    SampledPattern source("p", "desc", {{0.1, 0.2, 0.3}, {0.4, 0.5, 0.6}});
    const SampledPattern target = std::move(source);
    EXPECT_TRUE(same(target.sample(-1), Offset3{0.4, 0.5, 0.6}));
    const RudimentInfo info = source.info();  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(info.period_pips, 0);
    EXPECT_TRUE(info.name.empty());
    EXPECT_TRUE(info.description.empty());
    EXPECT_EQ(error_of<std::logic_error>([&] { source.sample(0); }),
              "Cannot sample a moved-from pattern");
    const SampledPattern copy = source;
    EXPECT_EQ(error_of<std::logic_error>([&] { copy.sample(0); }),
              "Cannot sample a moved-from pattern");
    std::vector<SampledPattern> patterns;
    patterns.push_back(copy);
    EXPECT_EQ(library_error(std::move(patterns)), "Empty/moved-from pattern");
}

TEST(PatternLibrary, PatternCountLimitComesFirst) {
    std::vector<SampledPattern> patterns;
    for (int i = 0; i < 1024; ++i) {
        patterns.push_back(flat("p" + std::to_string(i), 1));
    }
    EXPECT_EQ(library_error(patterns), "");
    // A moved-from first pattern would fail, but the count is refused before any pattern.
    SampledPattern spent = flat("spent", 1);
    SampledPattern taken = std::move(spent);
    patterns.insert(patterns.begin(), spent);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(library_error(patterns), "Too many patterns");
}

TEST(PatternLibrary, SampleTotalLimit) {
    std::vector<SampledPattern> patterns;
    for (int i = 0; i < 16; ++i) {
        patterns.push_back(flat("big" + std::to_string(i), 65535));
    }
    std::vector<SampledPattern> exact = patterns;
    exact.push_back(flat("last", 16));
    EXPECT_EQ(library_error(std::move(exact)), "");
    std::vector<SampledPattern> over = patterns;
    over.push_back(flat("last", 17));
    EXPECT_EQ(library_error(over), too_large);
    // The repeated name is reported even though it also breaks the total.
    over.back() = flat("big0", 17);
    EXPECT_EQ(library_error(over), "Duplicate pattern name: big0");
}

TEST(PatternLibrary, BuiltinNamesNeedExactCopies) {
    const BuiltinCopy breathe("lfo_breathe");
    ASSERT_GT(breathe.samples.size(), 1u);

    // Sign of zero does not matter: the copy compares with ==.
    BuiltinCopy signed_zero = breathe;
    signed_zero.samples[1].z = -0.0;
    const PatternLibrary library({signed_zero.make(), flat("own", 4)});
    const std::vector<RudimentInfo>& builtin = kinetra::catalogue();
    const std::vector<RudimentInfo> rows = library.catalogue();
    ASSERT_EQ(rows.size(), builtin.size() + 1);
    EXPECT_EQ(rows.back().name, "own");
    EXPECT_FALSE(std::signbit(library.sample("lfo_breathe", 1).z));

    BuiltinCopy other_description = breathe;
    other_description.description += ".";
    BuiltinCopy shorter = breathe;
    shorter.samples.pop_back();
    BuiltinCopy nudged = breathe;
    nudged.samples.back().y = std::nextafter(nudged.samples.back().y, 1.0);
    for (const BuiltinCopy* changed : {&other_description, &shorter, &nudged}) {
        EXPECT_EQ(library_error({changed->make()}), "Cannot override default pattern: lfo_breathe");
    }

    EXPECT_EQ(library_error({breathe.make(), breathe.make()}),
              "Duplicate pattern name: lfo_breathe");
    // A procedural pattern is a built-in too.
    const BuiltinCopy bounce("bounce");
    EXPECT_EQ(library_error({bounce.make()}), "");
    EXPECT_EQ(library_error({flat("bounce", 64)}), "Cannot override default pattern: bounce");
}

TEST(PatternLibrary, SampleSearchesOwnPatternsThenBuiltins) {
    const std::vector<Offset3> rows = {{0.1, 0.0, 0.0}, {0.2, 0.3, 0.0}};
    const PatternLibrary library({SampledPattern("mine", "two rows", rows)});
    EXPECT_TRUE(same(library.sample("mine", -1), rows[1]));
    EXPECT_TRUE(same(library.sample("mine", 4), rows[0]));
    EXPECT_TRUE(same(library.sample("circle", 16), kinetra::sample("circle", 16)));
    EXPECT_TRUE(same(library.sample("lfo_breathe", 7), kinetra::sample("lfo_breathe", 7)));
    EXPECT_EQ(error_of<std::invalid_argument>([&] { library.sample("min", 0); }),
              "Unknown dance rudiment: min");
}

TEST(PatternLibrary, CatalogueAppendsOwnRows) {
    const PatternLibrary library(
        {SampledPattern("flat_one", "first", {{0.5, 0.0, 0.0}}),
         SampledPattern("deep", "second", {{0.0, 0.1, 0.0}, {0.0, 0.0, 0.2}})});
    const std::vector<RudimentInfo>& builtin = kinetra::catalogue();
    const std::vector<RudimentInfo> rows = library.catalogue();
    ASSERT_EQ(rows.size(), builtin.size() + 2);
    for (std::size_t i = 0; i < builtin.size(); ++i) {
        EXPECT_EQ(rows[i].name.data(), builtin[i].name.data());
        EXPECT_EQ(rows[i].period_pips, builtin[i].period_pips);
    }
    const RudimentInfo& first = rows[builtin.size()];
    const RudimentInfo& second = rows[builtin.size() + 1];
    EXPECT_EQ(first.name, "flat_one");
    EXPECT_EQ(first.description, "first");
    EXPECT_EQ(first.period_pips, 1);
    EXPECT_EQ(first.dimensions, 1);
    EXPECT_EQ(second.name, "deep");
    EXPECT_EQ(second.period_pips, 2);
    EXPECT_EQ(second.dimensions, 3);

    const PatternLibrary empty({});
    EXPECT_EQ(empty.catalogue().size(), builtin.size());
}

}  // namespace

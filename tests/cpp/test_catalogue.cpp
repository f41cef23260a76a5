#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "kinetra/catalogue.hpp"
#include "kinetra/packs/atlas.hpp"
#include "kinetra/packs/initial.hpp"

namespace {

using kinetra::Offset3;

bool same_bits(const Offset3& a, const Offset3& b) {
    return std::memcmp(&a, &b, sizeof(Offset3)) == 0;
}

std::string unknown_message(std::string_view name) {
    try {
        kinetra::sample(name, 0);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(Lookup, ProceduralNamesAnswerThroughTheirFunctions) {
    EXPECT_TRUE(same_bits(kinetra::sample("bounce", 32), kinetra::bounce(32)));
    EXPECT_TRUE(same_bits(kinetra::sample("five_stroke_roll", 43), kinetra::five_stroke_roll(43)));
    EXPECT_TRUE(same_bits(kinetra::sample("flam", 7), kinetra::flam(7)));
    EXPECT_TRUE(same_bits(kinetra::sample("drag", 17), kinetra::drag(17)));
    EXPECT_TRUE(same_bits(kinetra::sample("sway", 5), kinetra::sway(5)));
}

TEST(Lookup, BakedNamesAnswerThroughTheirSamplers) {
    const Offset3 breathe = kinetra::sample("lfo_breathe", 64);
    EXPECT_EQ(breathe.x, 0.8);
    EXPECT_EQ(breathe.y, 0.0);
    EXPECT_EQ(breathe.z, 0.0);
    EXPECT_TRUE(
        same_bits(kinetra::sample("lfo_breathe", -1), kinetra_initial::table_lfo_breathe[255]));
    EXPECT_EQ(kinetra_initial::sample_lfo_breathe(1).x, 0.019632982818);
    EXPECT_EQ(kinetra_initial::sample_lfo_breathe(-1).x, -0.019632982818);
    EXPECT_EQ(kinetra_initial::sample_lfo_breathe(257).x, 0.019632982818);
    EXPECT_TRUE(
        same_bits(kinetra_initial::sample_lfo_breathe(256), kinetra_initial::table_lfo_breathe[0]));
    EXPECT_EQ(kinetra_atlas::sample_env_lift_hold_drop(16).y, -0.0828125);
}

TEST(Lookup, UnknownNamesThrowWithTheNameAppended) {
    const char* names[] = {"Bounce",
                           "",
                           "lfo_breath",
                           "lfo_breathe ",
                           " bounce",
                           "bounce\n",
                           "kinetra_initial::lfo_breathe"};
    for (const char* name : names) {
        EXPECT_EQ(unknown_message(name), std::string("Unknown dance rudiment: ") + name);
    }
    // A name that starts like a procedural one but is longer or shorter is not that pattern.
    EXPECT_THROW(kinetra::sample(std::string_view("flam\0", 5), 0), std::invalid_argument);
    EXPECT_THROW(kinetra::sample("fla", 0), std::invalid_argument);
}

TEST(Lookup, UnknownNameErrorKeepsEveryByteOfTheName) {
    const std::string_view name("fl\0am", 5);
    try {
        kinetra::sample(name, 0);
        FAIL() << "no exception";
    } catch (const kinetra::UnknownNameError& e) {
        EXPECT_STREQ(e.what(), "Unknown dance rudiment: fl");
        EXPECT_EQ(e.message(), std::string("Unknown dance rudiment: ") + std::string(name));
        const kinetra::UnknownNameError copy = e;
        EXPECT_EQ(copy.message(), e.message());
    }
}

TEST(Catalogue, ListsProceduralRowsFirstThenTheRegistry) {
    const auto& rows = kinetra::catalogue();
    ASSERT_GT(rows.size(), 15u);
    std::string names;
    for (std::size_t i = 0; i < 15; ++i) {
        names += std::string(rows[i].name) + " ";
    }
    EXPECT_EQ(
        names,
        "bounce sway circle figure_eight step_touch box_step helix clay_background "
        "single_stroke_roll double_stroke_roll multiple_bounce_roll single_paradiddle flam drag "
        "five_stroke_roll ");
    EXPECT_EQ(rows[0].description, "One-beat vertical bounce");
    EXPECT_EQ(rows[6].dimensions, 3);
    const std::string_view clay = rows[7].description;
    EXPECT_TRUE(clay.ends_with(" four-beat accented background drift"));
    EXPECT_EQ(clay.find(' '),
              clay.size() - std::string_view(" four-beat accented background drift").size());
    EXPECT_EQ(rows[15].name, "lfo_breathe");
    EXPECT_EQ(rows[15].period_pips, 256);
    EXPECT_EQ(rows[15].dimensions, 1);
    EXPECT_EQ(&kinetra::catalogue(), &rows);
}

TEST(Catalogue, EveryRowSamplesPeriodicallyAndWithinItsDimensions) {
    std::set<std::string_view> names;
    for (const kinetra::RudimentInfo& row : kinetra::catalogue()) {
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        const int period = row.period_pips;
        bool moves_y = false;
        bool moves_z = false;
        for (int pip = 0; pip < period; ++pip) {
            const Offset3 o = kinetra::sample(row.name, pip);
            ASSERT_TRUE(same_bits(o, kinetra::sample(row.name, pip + period)))
                << row.name << " " << pip;
            ASSERT_TRUE(same_bits(o, kinetra::sample(row.name, pip - period)))
                << row.name << " " << pip;
            moves_y = moves_y || o.y != 0.0;
            moves_z = moves_z || o.z != 0.0;
            if (row.dimensions == 1) ASSERT_EQ(o.y, 0.0) << row.name;
            if (row.dimensions <= 2) ASSERT_EQ(o.z, 0.0) << row.name;
        }
        EXPECT_EQ(row.dimensions, moves_z ? 3 : moves_y ? 2 : 1) << row.name;
    }
}

TEST(Catalogue, BakedNamesAreFoundAtBothEndsOfTheNameOrder) {
    std::string_view first;
    std::string_view last;
    const auto& rows = kinetra::catalogue();
    for (std::size_t i = 15; i < rows.size(); ++i) {
        if (first.empty() || rows[i].name < first) first = rows[i].name;
        if (last.empty() || rows[i].name > last) last = rows[i].name;
    }
    EXPECT_NO_THROW(kinetra::sample(first, 0));
    EXPECT_NO_THROW(kinetra::sample(last, 0));
    // Names just beyond either end of the index.
    EXPECT_EQ(unknown_message("a"), "Unknown dance rudiment: a");
    EXPECT_EQ(unknown_message("zzzz"), "Unknown dance rudiment: zzzz");
}

// The lookup orders names through fixed-width keys where it can and compares the names
// themselves where it cannot (names longer than any baked one, or ending in a zero byte).
// Names one step away from a real one, on either side of it, must never be taken for it.
TEST(Lookup, NamesNextToEveryCatalogueNameAreUnknown) {
    std::set<std::string, std::less<>> known;
    for (const kinetra::RudimentInfo& row : kinetra::catalogue()) {
        known.emplace(row.name);
    }
    for (const std::string& name : known) {
        std::string last_up = name;
        last_up.back() = static_cast<char>(last_up.back() + 1);
        std::string last_down = name;
        last_down.back() = static_cast<char>(last_down.back() - 1);
        std::string middle_zero = name;
        middle_zero[name.size() / 2] = '\0';
        const std::string near_misses[] = {
            name + std::string(1, '\0'),
            name + std::string(32 - std::min<std::size_t>(name.size(), 31), '\0'),
            name.substr(0, name.size() - 1),
            name + "a",
            name + std::string(40, '_'),
            last_up,
            last_down,
            middle_zero,
            "\xff" + name,
        };
        EXPECT_NO_THROW(kinetra::sample(name, 0)) << name;
        for (const std::string& miss : near_misses) {
            if (known.count(miss) == 0) {
                EXPECT_THROW(kinetra::sample(miss, 0), std::invalid_argument) << name;
            }
        }
    }
}

// Every procedural name, long or short, answers through its own function.
TEST(Lookup, EveryProceduralNameAnswersThroughItsFunction) {
    const struct {
        const char* name;
        Offset3 (*move)(int);
    } moves[] = {
        {"bounce", &kinetra::bounce},
        {"sway", &kinetra::sway},
        {"circle", &kinetra::circle},
        {"figure_eight", &kinetra::figure_eight},
        {"step_touch", &kinetra::step_touch},
        {"box_step", &kinetra::box_step},
        {"helix", &kinetra::helix},
        {"clay_background", &kinetra::clay_background},
        {"single_stroke_roll", &kinetra::single_stroke_roll},
        {"double_stroke_roll", &kinetra::double_stroke_roll},
        {"multiple_bounce_roll", &kinetra::multiple_bounce_roll},
        {"single_paradiddle", &kinetra::single_paradiddle},
        {"flam", &kinetra::flam},
        {"drag", &kinetra::drag},
        {"five_stroke_roll", &kinetra::five_stroke_roll},
    };
    for (const auto& m : moves) {
        for (const int pip : {-70, -1, 0, 5, 17, 31, 42, 63, 100, 255}) {
            EXPECT_TRUE(same_bits(kinetra::sample(m.name, pip), m.move(pip)))
                << m.name << " " << pip;
        }
    }
}

}  // namespace

// PatternLibrary against a reference model: a refusal is the message of the first rule broken
// (count, duplicate, pack size, changed built-in copy), in input order; an accepted library
// answers its own patterns first, every other catalogue name like the built-in lookup, and
// lists the built-in rows followed by its own.

#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "fuzz_common.hpp"
#include "kinetra/user_patterns.hpp"

namespace {

const std::vector<kinetra::RudimentInfo>& builtin() { return kinetra::catalogue(); }

const kinetra::RudimentInfo* find_builtin(const std::string& name) {
    for (const kinetra::RudimentInfo& row : builtin()) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

// A built-in pattern's exact rows, as a user pattern would copy them.
std::vector<kinetra::Offset3> builtin_rows(const kinetra::RudimentInfo& row) {
    std::vector<kinetra::Offset3> rows;
    for (int pip = 0; pip < row.period_pips; ++pip) {
        rows.push_back(kinetra::sample(row.name, pip));
    }
    return rows;
}

bool same(const kinetra::Offset3& a, const kinetra::Offset3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    std::vector<kinetra::SampledPattern> patterns;
    std::vector<std::vector<kinetra::Offset3>> given_rows;
    const bool too_many = data.ConsumeIntegralInRange<int>(0, 63) == 63;
    const std::size_t count = too_many ? 1025 : data.ConsumeIntegralInRange<std::size_t>(0, 8);
    static const char* names[] = {"hop", "sway", "lfo_breathe", "walk", "bounce", "x"};
    for (std::size_t i = 0; i < count; ++i) {
        std::string name;
        std::string description;
        std::vector<kinetra::Offset3> rows;
        // 0 own, 1 large (rarely), 2 exact built-in copy, 3 changed built-in copy.
        static const int kinds[] = {0, 0, 0, 0, 0, 2, 2, 3, 3, 1};
        const int kind = too_many ? 0 : kinds[data.ConsumeIntegralInRange<int>(0, 9)];
        if (kind == 0) {  // an own pattern with one of a few names, so that repeats happen
            name =
                too_many ? "p" + std::to_string(i) : names[data.ConsumeIntegralInRange<int>(0, 5)];
            if (const kinetra::RudimentInfo* row = find_builtin(name)) {
                description = std::string(row->description);
                rows = builtin_rows(*row);
            } else {
                rows.resize(data.ConsumeIntegralInRange<std::size_t>(1, 5));
            }
        } else if (kind == 1) {  // a large one, for the pack limit
            name = "big" + std::to_string(data.ConsumeIntegralInRange<int>(0, 20));
            rows.resize(data.ConsumeBool() ? 65535
                                           : data.ConsumeIntegralInRange<std::size_t>(1, 65535));
        } else {  // a built-in copy, exact or changed in one place
            const kinetra::RudimentInfo& row =
                builtin()[data.ConsumeIntegralInRange<std::size_t>(0, builtin().size() - 1)];
            name = std::string(row.name);
            description = std::string(row.description);
            rows = builtin_rows(row);
            if (kind == 3) {
                switch (data.ConsumeIntegralInRange<int>(0, 2)) {
                    case 0:
                        description += " ";
                        break;
                    case 1:
                        rows.push_back(rows.front());
                        break;
                    default:
                        rows[data.ConsumeIntegralInRange<std::size_t>(0, rows.size() - 1)].x =
                            data.ConsumeFloatingPointInRange<double>(-1.0, 1.0);
                        break;
                }
            }
        }
        for (kinetra::Offset3& r : rows) {
            if (kind == 0 || kind == 1) {
                r.y = data.ConsumeFloatingPointInRange<double>(-1.0, 1.0);
            }
        }
        patterns.emplace_back(name, description, rows);
        given_rows.push_back(rows);
    }

    // The reference outcome and the patterns it keeps.
    std::string refusal;
    std::vector<std::size_t> kept;
    if (patterns.size() > 1024) {
        refusal = "Too many patterns";
    } else {
        std::unordered_set<std::string> seen;
        std::size_t total = 0;
        for (std::size_t i = 0; i < patterns.size() && refusal.empty(); ++i) {
            const std::string& name = patterns[i].name();
            if (!seen.insert(name).second) {
                refusal = "Duplicate pattern name: " + name;
            } else if ((total += given_rows[i].size()) > 1048576) {
                refusal = "Pattern pack is too large";
            } else if (const kinetra::RudimentInfo* row = find_builtin(name)) {
                bool exact = row->description == patterns[i].description() &&
                             row->period_pips == given_rows[i].size();
                for (std::size_t pip = 0; exact && pip < given_rows[i].size(); ++pip) {
                    exact = same(given_rows[i][pip], kinetra::sample(name, static_cast<int>(pip)));
                }
                if (!exact) {
                    refusal = "Cannot override default pattern: " + name;
                }
            } else {
                kept.push_back(i);
            }
        }
    }

    const std::vector<kinetra::SampledPattern> copies = patterns;
    try {
        const kinetra::PatternLibrary library(std::move(patterns));
        FUZZ_CHECK(refusal.empty());
        const std::vector<kinetra::RudimentInfo> rows = library.catalogue();
        FUZZ_CHECK(rows.size() == builtin().size() + kept.size());
        for (std::size_t k = 0; k < kept.size(); ++k) {
            const kinetra::SampledPattern& own = copies[kept[k]];
            FUZZ_CHECK(rows[builtin().size() + k].name == own.name());
            const int pip = data.ConsumeIntegral<int>();
            const kinetra::Offset3 got = library.sample(own.name(), pip);
            const kinetra::Offset3 want = own.sample(pip);
            FUZZ_CHECK(fuzz::same_bits(got.x, want.x) && fuzz::same_bits(got.y, want.y) &&
                       fuzz::same_bits(got.z, want.z));
        }
        const kinetra::RudimentInfo& any =
            builtin()[data.ConsumeIntegralInRange<std::size_t>(0, builtin().size() - 1)];
        const int pip = data.ConsumeIntegral<int>();
        const kinetra::Offset3 got = library.sample(any.name, pip);
        const kinetra::Offset3 want = kinetra::sample(any.name, pip);
        FUZZ_CHECK(fuzz::same_bits(got.x, want.x) && fuzz::same_bits(got.y, want.y) &&
                   fuzz::same_bits(got.z, want.z));
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(e.what() == refusal);
    }
    return 0;
}

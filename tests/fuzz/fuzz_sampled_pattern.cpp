// SampledPattern against a reference model of its rules: a refusal is the message of the
// first rule broken, in the order name, count, values; an accepted pattern answers every pip
// with the row wrap_pip(pip, count), bit for bit, and derives its dimension count.

#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_common.hpp"
#include "kinetra/user_patterns.hpp"

namespace {

std::string expected_refusal(const std::string& name, const std::vector<kinetra::Offset3>& rows) {
    if (!fuzz::reference_identifier(name)) {
        return "Invalid pattern name";
    }
    if (rows.empty() || rows.size() > 65535) {
        return "A pattern requires 1..65535 samples (one per pip)";
    }
    for (const kinetra::Offset3& r : rows) {
        for (const double v : {r.x, r.y, r.z}) {
            if (!fuzz::reference_sample_value(v)) {
                return "Pattern samples must be finite and within [-1, 1]";
            }
        }
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string name = fuzz::pick_name(data);
    const std::string description = data.ConsumeRandomLengthString(32);
    std::vector<kinetra::Offset3> rows;
    const bool oversized = data.ConsumeIntegralInRange<int>(0, 255) == 255;
    const std::size_t count = oversized ? 65535 + data.ConsumeIntegralInRange<std::size_t>(0, 1)
                                        : data.ConsumeIntegralInRange<std::size_t>(0, 40);
    const bool still = data.ConsumeBool();  // mostly zeros, so that the axes seldom all move
    for (std::size_t i = 0; i < count; ++i) {
        if (oversized || (still && data.ConsumeIntegralInRange<int>(0, 3) != 0)) {
            rows.push_back({0.0, 0.0, 0.0});
        } else {
            rows.push_back(
                {fuzz::pick_double(data), fuzz::pick_double(data), fuzz::pick_double(data)});
        }
    }
    const std::string refusal = expected_refusal(name, rows);
    try {
        const kinetra::SampledPattern pattern(name, description, rows);
        FUZZ_CHECK(refusal.empty());
        const kinetra::RudimentInfo info = pattern.info();
        FUZZ_CHECK(info.name == name && info.description == description);
        FUZZ_CHECK(info.period_pips == rows.size() && pattern.sample_count() == rows.size());
        int dimensions = 1;
        for (const kinetra::Offset3& r : rows) {
            if (r.z != 0.0) {
                dimensions = 3;
            } else if (r.y != 0.0 && dimensions != 3) {
                dimensions = 2;
            }
        }
        FUZZ_CHECK(info.dimensions == dimensions);
        for (int k = 0; k < 4; ++k) {
            const int pip = data.ConsumeIntegral<int>();
            const kinetra::Offset3 got = pattern.sample(pip);
            const kinetra::Offset3& want = rows[static_cast<std::size_t>(
                kinetra::wrap_pip(pip, static_cast<int>(rows.size())))];
            FUZZ_CHECK(fuzz::same_bits(got.x, want.x) && fuzz::same_bits(got.y, want.y) &&
                       fuzz::same_bits(got.z, want.z));
        }
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(e.what() == refusal);
    }
    return 0;
}

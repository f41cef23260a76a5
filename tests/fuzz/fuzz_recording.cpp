// SampledRecording against a reference model of its rules: a refusal is the message of the
// first rule broken, in the order name, time base, sizes, axis names, rows; an accepted
// recording answers each pip of its run with its row, bit for bit, and refuses every other.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "fuzz_common.hpp"
#include "kinetra/recording.hpp"

namespace {

double pick_time(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            return 120.0;
        case 1:
            return 1e-307;
        case 2:
            return 1e-306;
        case 3:
            return fuzz::pick_double(data);
        default:
            return data.ConsumeFloatingPoint<double>();
    }
}

int pick_start(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return std::numeric_limits<int>::max() - data.ConsumeIntegralInRange<int>(0, 3);
        case 1:
            return std::numeric_limits<int>::min();
        default:
            return data.ConsumeIntegral<int>();
    }
}

std::string expected_refusal(const std::string& name, const std::vector<std::string>& axes,
                             const std::vector<std::vector<double>>& rows, double bpm,
                             double beat_zero, int start) {
    if (!fuzz::reference_identifier(name)) {
        return "Invalid identifier";
    }
    const double beat = 60.0 / bpm;
    if (!(std::isfinite(bpm) && bpm > 0.0 && std::isfinite(beat) && beat / 64.0 > 0.0 &&
          std::isfinite(beat_zero))) {
        return "A finite positive BPM and beat origin are required";
    }
    if (axes.empty() || rows.empty() || axes.size() * rows.size() > 8388608 ||
        static_cast<std::int64_t>(start) + static_cast<std::int64_t>(rows.size()) > INT32_MAX) {
        return "Empty recording or recording resource limit exceeded";
    }
    std::unordered_set<std::string> seen;
    for (const std::string& axis : axes) {
        if (!fuzz::reference_identifier(axis)) {
            return "Invalid identifier";
        }
        if (!seen.insert(axis).second) {
            return "Duplicate axis";
        }
    }
    for (const std::vector<double>& row : rows) {
        if (row.size() != axes.size()) {
            return "Ragged recording";
        }
        for (const double v : row) {
            if (!fuzz::reference_sample_value(v)) {
                return "Invalid sample";
            }
        }
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string name = fuzz::pick_name(data);
    std::vector<std::string> axes;
    const std::size_t axis_count = data.ConsumeIntegralInRange<std::size_t>(0, 5);
    static const char* common[] = {"x", "y", "z", "X", "a_1"};
    for (std::size_t i = 0; i < axis_count; ++i) {
        axes.push_back(data.ConsumeBool()
                           ? std::string(common[data.ConsumeIntegralInRange<int>(0, 4)])
                           : fuzz::pick_name(data));
    }
    std::vector<std::vector<double>> rows(data.ConsumeIntegralInRange<std::size_t>(0, 12));
    for (std::vector<double>& row : rows) {
        std::size_t length = axis_count;
        if (data.ConsumeIntegralInRange<int>(0, 15) == 0) {
            length = data.ConsumeIntegralInRange<std::size_t>(0, 6);
        }
        for (std::size_t i = 0; i < length; ++i) {
            row.push_back(data.ConsumeIntegralInRange<int>(0, 7) == 0
                              ? fuzz::pick_double(data)
                              : data.ConsumeFloatingPointInRange<double>(-1.0, 1.0));
        }
    }
    const double bpm = pick_time(data);
    const double beat_zero = data.ConsumeBool() ? 0.0 : pick_time(data);
    const int start = pick_start(data);

    const std::string refusal = expected_refusal(name, axes, rows, bpm, beat_zero, start);
    try {
        const kinetra::SampledRecording recording(name, axes, rows, bpm, beat_zero, start);
        FUZZ_CHECK(refusal.empty());
        FUZZ_CHECK(recording.name() == name && recording.dimensions() == axes);
        FUZZ_CHECK(recording.sample_count() == static_cast<int>(rows.size()));
        FUZZ_CHECK(fuzz::same_bits(recording.bpm(), bpm) &&
                   fuzz::same_bits(recording.beat_zero_seconds(), beat_zero));
        FUZZ_CHECK(recording.start_pip() == start);
        for (int k = 0; k < 4; ++k) {
            const int pip = k == 0 ? start : data.ConsumeIntegral<int>();
            const std::int64_t offset = static_cast<std::int64_t>(pip) - start;
            try {
                const std::vector<double> got = recording.sample(pip);
                FUZZ_CHECK(offset >= 0 && offset < static_cast<std::int64_t>(rows.size()));
                const std::vector<double>& want = rows[static_cast<std::size_t>(offset)];
                FUZZ_CHECK(got.size() == want.size());
                for (std::size_t i = 0; i < got.size(); ++i) {
                    FUZZ_CHECK(fuzz::same_bits(got[i], want[i]));
                }
            } catch (const std::out_of_range& e) {
                FUZZ_CHECK(offset < 0 || offset >= static_cast<std::int64_t>(rows.size()));
                FUZZ_CHECK(std::string(e.what()) == "Pip outside non-looping recording");
            }
        }
    } catch (const std::invalid_argument& e) {
        FUZZ_CHECK(e.what() == refusal);
    }
    return 0;
}

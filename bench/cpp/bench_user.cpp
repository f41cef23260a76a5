// User patterns and recordings, each against the plainest container holding the same rows.
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench_util.hpp"
#include "kinetra/catalogue.hpp"
#include "kinetra/recording.hpp"
#include "kinetra/user_patterns.hpp"

namespace {

using kinetra::Offset3;
using kinetra_bench::batch;
using kinetra_bench::count_calls;
using kinetra_bench::keep;

constexpr int pattern_rows = 512;
constexpr std::size_t library_patterns = 64;

std::vector<Offset3> smooth_rows(int count, int seed) {
    std::vector<Offset3> rows(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double a = 6.283185307179586 * i / count + seed;
        rows[static_cast<std::size_t>(i)] = {0.5 * std::sin(a), 0.25 * std::cos(a), 0.0};
    }
    return rows;
}

std::string user_name(std::size_t i) {
    char text[32];
    std::snprintf(text, sizeof text, "user_pattern_%03zu", i);
    return text;
}

void sampled_pattern(benchmark::State& state) {
    const kinetra::SampledPattern pattern("user_wave", "A user wave", smooth_rows(pattern_rows, 0));
    const std::vector<int> pips = kinetra_bench::random_pips(5);
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(pattern.sample(pip));
        }
    }
    count_calls(state);
}

void sampled_pattern_raw_index(benchmark::State& state) {
    const std::vector<Offset3> rows = smooth_rows(pattern_rows, 0);
    const std::vector<int> pips = kinetra_bench::random_pips(5);
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(rows[static_cast<std::size_t>(pip & (pattern_rows - 1))]);
        }
    }
    count_calls(state);
}

BENCHMARK(sampled_pattern)->Name("user/sampled_pattern");
BENCHMARK(sampled_pattern_raw_index)->Name("user/sampled_pattern/baseline_raw_index");

struct LibraryInputs {
    std::vector<std::string> names;
    std::vector<kinetra::SampledPattern> patterns;
};

LibraryInputs library_inputs() {
    LibraryInputs in;
    for (std::size_t i = 0; i < library_patterns; ++i) {
        in.names.push_back(user_name(i));
        in.patterns.emplace_back(in.names.back(), "A user pattern",
                                 smooth_rows(pattern_rows / 2, static_cast<int>(i)));
    }
    return in;
}

std::vector<std::string_view> views(const std::vector<std::string>& names) {
    return {names.begin(), names.end()};
}

// Lookups of the library's own names, spread evenly over its patterns.
void pattern_library(benchmark::State& state) {
    LibraryInputs in = library_inputs();
    const kinetra::PatternLibrary library(in.patterns);
    const kinetra_bench::NameMix mix = kinetra_bench::shuffled_names(views(in.names), 6);
    const std::vector<int> pips = kinetra_bench::random_pips(6);
    for (auto _ : state) {
        for (std::size_t i = 0; i < batch; ++i) {
            keep(library.sample(mix.names[i], pips[i]));
        }
    }
    count_calls(state);
    state.counters["patterns"] = static_cast<double>(library_patterns);
}

// The baseline: the same patterns behind a standard hash map of their names.
void pattern_library_hash_map(benchmark::State& state) {
    const LibraryInputs in = library_inputs();
    std::unordered_map<std::string_view, const kinetra::SampledPattern*> map;
    for (const kinetra::SampledPattern& pattern : in.patterns) {
        map.emplace(pattern.name(), &pattern);
    }
    const kinetra_bench::NameMix mix = kinetra_bench::shuffled_names(views(in.names), 6);
    const std::vector<int> pips = kinetra_bench::random_pips(6);
    for (auto _ : state) {
        for (std::size_t i = 0; i < batch; ++i) {
            keep(map.at(mix.names[i])->sample(pips[i]));
        }
    }
    count_calls(state);
}

BENCHMARK(pattern_library)->Name("user/pattern_library");
BENCHMARK(pattern_library_hash_map)->Name("user/pattern_library/baseline_unordered_map");

constexpr int recording_rows = 4096;
constexpr int recording_axes = 3;
constexpr int recording_start = -1000;

std::vector<std::vector<double>> recording_samples() {
    std::vector<std::vector<double>> rows(recording_rows);
    for (int r = 0; r < recording_rows; ++r) {
        for (int a = 0; a < recording_axes; ++a) {
            rows[static_cast<std::size_t>(r)].push_back(std::sin(0.01 * r + a));
        }
    }
    return rows;
}

std::vector<int> recording_pips() {
    kinetra_bench::Random random(7);
    std::vector<int> pips(batch);
    for (int& pip : pips) {
        pip = recording_start + static_cast<int>(random.below(recording_rows));
    }
    return pips;
}

void sampled_recording(benchmark::State& state) {
    const kinetra::SampledRecording recording("take", {"pan", "tilt", "zoom"}, recording_samples(),
                                              120.0, 0.0, recording_start);
    const std::vector<int> pips = recording_pips();
    for (auto _ : state) {
        for (const int pip : pips) {
            benchmark::DoNotOptimize(recording.sample(pip));
        }
    }
    count_calls(state);
}

// The baseline: a bounds-checked copy of the same row out of a flat block into a new vector.
void sampled_recording_flat_copy(benchmark::State& state) {
    std::vector<double> block;
    for (const std::vector<double>& row : recording_samples()) {
        block.insert(block.end(), row.begin(), row.end());
    }
    const std::vector<int> pips = recording_pips();
    for (auto _ : state) {
        for (const int pip : pips) {
            const long long row = static_cast<long long>(pip) - recording_start;
            if (row < 0 || row >= recording_rows) {
                throw std::out_of_range("outside");
            }
            const double* first = block.data() + row * recording_axes;
            benchmark::DoNotOptimize(std::vector<double>(first, first + recording_axes));
        }
    }
    count_calls(state);
}

BENCHMARK(sampled_recording)->Name("user/sampled_recording");
BENCHMARK(sampled_recording_flat_copy)->Name("user/sampled_recording/baseline_flat_copy");

}  // namespace

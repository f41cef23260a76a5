#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "kinetra/core.hpp"

namespace kinetra_bench {

// Calls per benchmark iteration; every figure is reported per call.
inline constexpr std::size_t batch = 4096;

// Deterministic pseudo-random numbers (splitmix64): every run measures the same inputs.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound).
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

private:
    std::uint64_t state_;
};

// batch pips spread over [-2^20, 2^20): negative and positive, many periods away from 0.
inline std::vector<int> random_pips(std::uint64_t seed) {
    Random random(seed);
    std::vector<int> pips(batch);
    for (int& pip : pips) {
        pip = static_cast<int>(random.below(std::size_t{1} << 21)) - (1 << 20);
    }
    return pips;
}

// batch names drawn from the given ones: each name the same number of times (up to one),
// in shuffled order. The names are copied into storage of their own, as a caller's would be.
struct NameMix {
    std::vector<std::string> storage;
    std::vector<std::string_view> names;
};

inline NameMix shuffled_names(const std::vector<std::string_view>& all, std::uint64_t seed) {
    NameMix mix;
    mix.storage.reserve(batch);
    for (std::size_t i = 0; i < batch; ++i) {
        mix.storage.emplace_back(all[i % all.size()]);
    }
    Random random(seed);
    for (std::size_t i = batch - 1; i > 0; --i) {
        std::swap(mix.storage[i], mix.storage[random.below(i + 1)]);
    }
    mix.names.assign(mix.storage.begin(), mix.storage.end());
    return mix;
}

// Keeps the three components of a result alive without adding work that depends on them.
inline void keep(const kinetra::Offset3& o) {
    benchmark::DoNotOptimize(o.x);
    benchmark::DoNotOptimize(o.y);
    benchmark::DoNotOptimize(o.z);
}

inline void count_calls(benchmark::State& state, std::size_t calls_per_iteration = batch) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(calls_per_iteration));
}

}  // namespace kinetra_bench

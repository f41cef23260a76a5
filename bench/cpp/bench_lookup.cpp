// Name lookup against a hash map of the same names, and the catalogue.
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench_util.hpp"
#include "kinetra/catalogue.hpp"
#include "procedural.hpp"
#include "registry.hpp"

namespace {

using kinetra::Offset3;
using kinetra_bench::count_calls;
using kinetra_bench::keep;

using Sampler = Offset3 (*)(int);

// Every catalogue name, procedural and baked, read from the library's own tables so that this
// file never has to know how many there are.
std::vector<std::string_view> all_names() {
    std::vector<std::string_view> names;
    for (const kinetra::detail::PatternEntry& entry : kinetra::detail::procedural_patterns) {
        names.push_back(entry.name);
    }
    for (std::size_t i = 0; i < kinetra::detail::registry_size; ++i) {
        names.push_back(kinetra::detail::registry[i].name);
    }
    return names;
}

const kinetra_bench::NameMix& name_mix() {
    static const kinetra_bench::NameMix mix = kinetra_bench::shuffled_names(all_names(), 3);
    return mix;
}

// The baseline: the same names mapped to the same samplers in a standard hash map.
const std::unordered_map<std::string_view, Sampler>& sampler_map() {
    static const std::unordered_map<std::string_view, Sampler> map = [] {
        std::unordered_map<std::string_view, Sampler> out;
        for (const kinetra::detail::PatternEntry& entry : kinetra::detail::procedural_patterns) {
            out.emplace(entry.name, entry.sampler);
        }
        for (std::size_t i = 0; i < kinetra::detail::registry_size; ++i) {
            out.emplace(kinetra::detail::registry[i].name, kinetra::detail::registry[i].sampler);
        }
        return out;
    }();
    return map;
}

void sample_by_name(benchmark::State& state) {
    const std::vector<std::string_view>& names = name_mix().names;
    const std::vector<int> pips = kinetra_bench::random_pips(4);
    for (auto _ : state) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            keep(kinetra::sample(names[i], pips[i]));
        }
    }
    count_calls(state);
    state.counters["names"] = static_cast<double>(all_names().size());
}

void sample_by_name_hash_map(benchmark::State& state) {
    const std::vector<std::string_view>& names = name_mix().names;
    const std::vector<int> pips = kinetra_bench::random_pips(4);
    const std::unordered_map<std::string_view, Sampler>& map = sampler_map();
    for (auto _ : state) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            keep(map.at(names[i])(pips[i]));
        }
    }
    count_calls(state);
}

BENCHMARK(sample_by_name)->Name("lookup/sample_by_name");
BENCHMARK(sample_by_name_hash_map)->Name("lookup/sample_by_name/baseline_unordered_map");

// The same guarded function-local static, in this executable instead of the library.
[[gnu::noinline]] const std::vector<kinetra::RudimentInfo>& local_rows() {
    static const std::vector<kinetra::RudimentInfo> rows(16);
    return rows;
}

void catalogue_warm(benchmark::State& state) {
    kinetra::catalogue();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kinetra_bench::batch; ++i) {
            benchmark::DoNotOptimize(&kinetra::catalogue());
        }
    }
    count_calls(state);
}

void catalogue_warm_local_static(benchmark::State& state) {
    local_rows();
    for (auto _ : state) {
        for (std::size_t i = 0; i < kinetra_bench::batch; ++i) {
            benchmark::DoNotOptimize(&local_rows());
        }
    }
    count_calls(state);
}

BENCHMARK(catalogue_warm)->Name("catalogue/warm");
BENCHMARK(catalogue_warm_local_static)->Name("catalogue/warm/baseline_local_static");

}  // namespace

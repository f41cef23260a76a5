// Procedural moves and a pack sampler, each against a raw index into a table of the same rows.
#include <vector>

#include "bench_util.hpp"
#include "kinetra/core.hpp"
#include "kinetra/packs/initial.hpp"

namespace {

using kinetra::Offset3;
using kinetra_bench::batch;
using kinetra_bench::count_calls;
using kinetra_bench::keep;

// The baseline of every evaluator: its rows precomputed into a raw array of a power-of-two
// period, read at pip & (period - 1), the Euclidean fold of such a period written inline.
template <Offset3 (*Evaluator)(int), int Period>
const std::vector<Offset3>& rows_of() {
    static const std::vector<Offset3> rows = [] {
        static_assert((Period & (Period - 1)) == 0, "a power-of-two period");
        std::vector<Offset3> out(Period);
        for (int pip = 0; pip < Period; ++pip) {
            out[pip] = Evaluator(pip);
        }
        return out;
    }();
    return rows;
}

template <Offset3 (*Evaluator)(int)>
void evaluate(benchmark::State& state) {
    const std::vector<int> pips = kinetra_bench::random_pips(1);
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(Evaluator(pip));
        }
    }
    count_calls(state);
}

template <Offset3 (*Evaluator)(int), int Period>
void raw_index(benchmark::State& state) {
    const std::vector<int> pips = kinetra_bench::random_pips(1);
    const Offset3* table = rows_of<Evaluator, Period>().data();
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(table[pip & (Period - 1)]);
        }
    }
    count_calls(state);
}

#define KINETRA_BENCH_MOVE(name, period)                      \
    BENCHMARK(evaluate<&kinetra::name>)->Name("move/" #name); \
    BENCHMARK(raw_index<&kinetra::name, period>)->Name("move/" #name "/baseline_raw_index")

KINETRA_BENCH_MOVE(bounce, 64);
KINETRA_BENCH_MOVE(sway, 128);
KINETRA_BENCH_MOVE(circle, 64);
KINETRA_BENCH_MOVE(figure_eight, 128);
KINETRA_BENCH_MOVE(step_touch, 128);
KINETRA_BENCH_MOVE(box_step, 256);
KINETRA_BENCH_MOVE(helix, 256);
KINETRA_BENCH_MOVE(clay_background, 256);
KINETRA_BENCH_MOVE(single_stroke_roll, 64);
KINETRA_BENCH_MOVE(double_stroke_roll, 64);
KINETRA_BENCH_MOVE(multiple_bounce_roll, 64);
KINETRA_BENCH_MOVE(single_paradiddle, 128);
KINETRA_BENCH_MOVE(flam, 64);
KINETRA_BENCH_MOVE(drag, 64);
KINETRA_BENCH_MOVE(five_stroke_roll, 128);

// A pack sampler, called as a caller of the pack header calls it, against a raw index into the
// very table it reads.
void pack_sampler(benchmark::State& state) {
    const std::vector<int> pips = kinetra_bench::random_pips(2);
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(kinetra_initial::sample_lfo_breathe(pip));
        }
    }
    count_calls(state);
}

void pack_table_raw_index(benchmark::State& state) {
    const std::vector<int> pips = kinetra_bench::random_pips(2);
    const Offset3* table = kinetra_initial::table_lfo_breathe;
    constexpr int period = sizeof(kinetra_initial::table_lfo_breathe) / sizeof(Offset3);
    static_assert((period & (period - 1)) == 0, "a power-of-two period");
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(table[pip & (period - 1)]);
        }
    }
    count_calls(state);
}

// The same raw index, folded by the library's exported fold as any caller can for any period.
void pack_table_raw_index_wrap_pip(benchmark::State& state) {
    const std::vector<int> pips = kinetra_bench::random_pips(2);
    const Offset3* table = kinetra_initial::table_lfo_breathe;
    constexpr int period = sizeof(kinetra_initial::table_lfo_breathe) / sizeof(Offset3);
    for (auto _ : state) {
        for (const int pip : pips) {
            keep(table[kinetra::wrap_pip(pip, period)]);
        }
    }
    count_calls(state);
}

BENCHMARK(pack_sampler)->Name("pack_sampler/lfo_breathe");
BENCHMARK(pack_table_raw_index)->Name("pack_sampler/lfo_breathe/baseline_raw_index");
BENCHMARK(pack_table_raw_index_wrap_pip)
    ->Name("pack_sampler/lfo_breathe/baseline_raw_index_wrap_pip");

}  // namespace

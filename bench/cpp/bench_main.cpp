// Entry point. Before any benchmark runs (and so before this process has built the catalogue),
// the first build of the catalogue is timed in fresh child processes, since a process builds it
// only once.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kinetra/catalogue.hpp"

namespace {

constexpr int first_build_samples = 40;

struct FirstBuild {
    double first_seconds;  // the first call of catalogue(): the build
    double copy_seconds;   // right after, in the same process: a copy of the same rows
};

// One fresh process per sample: fork, time the first catalogue() call and a copy of its rows,
// report both through a pipe.
bool time_first_build(FirstBuild& out) {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        using clock = std::chrono::steady_clock;
        const auto t0 = clock::now();
        const std::vector<kinetra::RudimentInfo>& rows = kinetra::catalogue();
        const auto t1 = clock::now();
        std::vector<kinetra::RudimentInfo> copy(rows);
        const auto t2 = clock::now();
        benchmark::DoNotOptimize(copy.data());
        const FirstBuild sample{std::chrono::duration<double>(t1 - t0).count(),
                                std::chrono::duration<double>(t2 - t1).count()};
        const bool ok = write(fds[1], &sample, sizeof sample) == sizeof sample;
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    const bool got = read(fds[0], &out, sizeof out) == sizeof out;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Replays measured samples as the manual iteration times of a benchmark.
void register_samples(const char* name, std::vector<double> seconds) {
    const auto count = static_cast<benchmark::IterationCount>(seconds.size());
    benchmark::RegisterBenchmark(name,
                                 [seconds](benchmark::State& state) {
                                     std::size_t i = 0;
                                     for (auto _ : state) {
                                         state.SetIterationTime(seconds[i++ % seconds.size()]);
                                     }
                                     state.SetItemsProcessed(state.iterations());
                                 })
        ->UseManualTime()
        ->Iterations(count);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::vector<double> first;
    std::vector<double> copy;
    for (int i = 0; i < first_build_samples; ++i) {
        FirstBuild sample{};
        if (!time_first_build(sample)) {
            std::fprintf(stderr, "could not time the first catalogue build in a child process\n");
            return 1;
        }
        first.push_back(sample.first_seconds);
        copy.push_back(sample.copy_seconds);
    }
    register_samples("catalogue/first_build", std::move(first));
    register_samples("catalogue/first_build/baseline_row_copy", std::move(copy));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

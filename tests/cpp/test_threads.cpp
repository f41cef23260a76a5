// Eight threads race to build the catalogue, then sample every built-in pattern, a shared
// pattern library and a shared recording at the same time. Every thread must see the one
// catalogue and get, bit for bit, what a single thread gets. Built with ThreadSanitizer by
// scripts/sanitizers.sh; it runs in the ordinary suite as well.
#include <barrier>
#include <climits>
#include <cstring>
#include <exception>
#include <latch>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kinetra/catalogue.hpp"
#include "kinetra/recording.hpp"
#include "kinetra/user_patterns.hpp"

namespace {

using kinetra::Offset3;

constexpr int thread_count = 8;
constexpr int rounds = 3;
constexpr int pips[] = {INT_MIN, -1000003, -257, -1,   0,    1,       37,     63,
                        64,      255,      511,  1023, 4096, 1000003, INT_MAX};
constexpr int recording_start = -40;
constexpr int recording_rows = 300;

std::vector<Offset3> wave_rows(int count) {
    std::vector<Offset3> rows;
    for (int i = 0; i < count; ++i) {
        rows.push_back({(i % 17) / 20.0, -(i % 5) / 10.0, (i % 3) / 4.0});
    }
    return rows;
}

// Two patterns of the library's own and an exact copy of bounce, which the library accepts
// without storing and answers through the built-in lookup.
std::vector<kinetra::SampledPattern> user_patterns() {
    std::vector<Offset3> bounce_rows;
    for (int pip = 0; pip < 64; ++pip) {
        bounce_rows.push_back(kinetra::bounce(pip));
    }
    std::vector<kinetra::SampledPattern> patterns;
    patterns.emplace_back("user_wave", "A wave of the test's own", wave_rows(100));
    patterns.emplace_back("user_step", "Seven steps", wave_rows(7));
    patterns.emplace_back("bounce", "One-beat vertical bounce", std::move(bounce_rows));
    return patterns;
}

kinetra::SampledRecording make_recording() {
    std::vector<std::vector<double>> rows;
    for (int r = 0; r < recording_rows; ++r) {
        rows.push_back({(r % 11) / 10.0, -(r % 7) / 7.0});
    }
    return kinetra::SampledRecording("take", {"pan", "tilt"}, std::move(rows), 128.0, 0.5,
                                     recording_start);
}

// Everything one thread computes.
struct Results {
    const std::vector<kinetra::RudimentInfo>* catalogue = nullptr;
    std::vector<Offset3> builtin;
    std::vector<Offset3> library;
    std::vector<std::string> library_names;
    std::vector<double> recording;
    int recording_refusals = 0;
    std::string unknown_message;
};

void sample_everything(int rotation, const std::vector<kinetra::RudimentInfo>& rows,
                       const kinetra::PatternLibrary& library,
                       const kinetra::SampledRecording& recording, Results& out) {
    // Each thread starts at another row, so that different threads read different tables at
    // the same moment as well as the same ones.
    const std::size_t n = rows.size();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < n; ++k) {
            const std::string_view name =
                rows[(k + static_cast<std::size_t>(rotation) * n / thread_count) % n].name;
            for (const int pip : pips) {
                out.builtin.push_back(kinetra::sample(name, pip));
            }
        }
        const std::string_view library_names[] = {"user_wave", "user_step", "bounce",
                                                  rows.back().name};
        for (const std::string_view name : library_names) {
            for (const int pip : pips) {
                out.library.push_back(library.sample(name, pip));
            }
        }
        for (int pip = recording_start - 2; pip < recording_start + recording_rows + 2; ++pip) {
            try {
                const std::vector<double> values = recording.sample(pip);
                out.recording.insert(out.recording.end(), values.begin(), values.end());
            } catch (const std::out_of_range&) {
                ++out.recording_refusals;
            }
        }
    }
    for (const kinetra::RudimentInfo& row : library.catalogue()) {
        out.library_names.emplace_back(row.name);
    }
    try {
        kinetra::sample("no_such_pattern", 0);
    } catch (const std::invalid_argument& e) {
        out.unknown_message = e.what();
    }
}

bool same_bits(const std::vector<Offset3>& a, const std::vector<Offset3>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Offset3)) == 0;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The first test of this executable, so that nothing has built the catalogue before the race
// when the whole executable runs in one process.
TEST(Threads, RaceForTheCatalogueThenSampleConcurrently) {
    const std::vector<kinetra::SampledPattern> patterns = user_patterns();
    const kinetra::SampledRecording recording = make_recording();

    std::optional<kinetra::PatternLibrary> shared;
    std::exception_ptr shared_failure;
    // Runs once, on one thread, after every thread has built or waited for the catalogue.
    auto build_shared = [&]() noexcept {
        try {
            shared.emplace(patterns);
        } catch (...) {
            shared_failure = std::current_exception();
        }
    };

    std::latch start(thread_count);
    std::barrier built(thread_count, build_shared);
    std::vector<Results> results(thread_count);
    std::vector<std::size_t> own_library_sizes(thread_count);
    std::vector<std::exception_ptr> failures(thread_count);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            try {
                start.arrive_and_wait();
                results[t].catalogue = &kinetra::catalogue();
                // Every thread also builds a library of its own at the same time as the others.
                const kinetra::PatternLibrary own(patterns);
                own_library_sizes[t] = own.catalogue().size();
            } catch (...) {
                failures[t] = std::current_exception();
            }
            built.arrive_and_wait();
            try {
                if (shared && results[t].catalogue != nullptr) {
                    sample_everything(t, *results[t].catalogue, *shared, recording, results[t]);
                }
            } catch (...) {
                failures[t] = std::current_exception();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::exception_ptr& failure : failures) {
        ASSERT_FALSE(failure) << "a thread failed";
    }
    ASSERT_FALSE(shared_failure) << "the shared library could not be built";
    ASSERT_TRUE(shared);

    // The reference, on this thread alone, now that all others are done.
    const std::vector<kinetra::RudimentInfo>& rows = kinetra::catalogue();
    std::vector<Results> reference(thread_count);
    for (int t = 0; t < thread_count; ++t) {
        sample_everything(t, rows, *shared, recording, reference[t]);
    }
    ASSERT_EQ(reference[0].library_names.size(), rows.size() + 2);
    EXPECT_EQ(reference[0].library_names[rows.size()], "user_wave");
    EXPECT_EQ(reference[0].recording_refusals, rounds * 4);
    EXPECT_EQ(reference[0].unknown_message, "Unknown dance rudiment: no_such_pattern");

    for (int t = 0; t < thread_count; ++t) {
        SCOPED_TRACE("thread " + std::to_string(t));
        EXPECT_EQ(results[t].catalogue, &rows);
        EXPECT_EQ(own_library_sizes[t], rows.size() + 2);
        EXPECT_TRUE(same_bits(results[t].builtin, reference[t].builtin));
        EXPECT_EQ(results[t].builtin.size(), rounds * rows.size() * std::size(pips));
        EXPECT_TRUE(same_bits(results[t].library, reference[t].library));
        EXPECT_TRUE(same_bits(results[t].recording, reference[t].recording));
        EXPECT_EQ(results[t].recording_refusals, reference[t].recording_refusals);
        EXPECT_EQ(results[t].library_names, reference[t].library_names);
        EXPECT_EQ(results[t].unknown_message, reference[t].unknown_message);
    }
}

}  // namespace

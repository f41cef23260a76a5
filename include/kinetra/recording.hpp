#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kinetra/identifier.hpp"

namespace kinetra {

namespace detail {

// 2^23 values: a recording's value block is 64 MiB at most.
inline constexpr std::size_t max_recording_values = 8388608;

// The time base rule of a recording: a finite positive tempo whose beat and pip lengths are
// finite and positive, and a finite beat origin. Written with comparisons that NaN fails, so
// every non-finite input is refused.
inline bool time_base_ok(double bpm, double beat_zero_seconds) noexcept {
    constexpr double largest = std::numeric_limits<double>::max();
    const double beat_seconds = 60.0 / bpm;
    return std::fabs(bpm) <= largest && bpm > 0.0 && beat_seconds <= largest &&
           beat_seconds * 0.015625 > 0.0 && std::fabs(beat_zero_seconds) <= largest;
}

// The size rule of a recording: at least one axis and one row, at most max_recording_values
// values in all, and the pip after the last row still a 32-bit pip. rows is at most
// max_recording_values once the first four tests pass, so the 64-bit sum is exact.
constexpr bool recording_fits(std::size_t axes, std::size_t rows, int start_pip) noexcept {
    return axes != 0 && axes <= max_recording_values && rows != 0 &&
           rows <= max_recording_values / axes &&
           static_cast<std::int64_t>(start_pip) + static_cast<std::int64_t>(rows) <=
               std::int64_t{std::numeric_limits<int>::max()};
}

}  // namespace detail

// A caller-supplied recording laid on a contiguous run of pips: one row per pip starting at
// start_pip, one column per named axis. The time base of its source (tempo and the time of
// beat zero) is validated and carried along but never used to convert time. It never loops,
// never interpolates and never changes after construction.
//
// Defined wholly in this header; nothing of it is exported from the library.
class SampledRecording {
public:
    // Validates in a fixed order and throws std::invalid_argument on the first failure.
    SampledRecording(std::string name, std::vector<std::string> dimensions,
                     std::vector<std::vector<double>> samples, double bpm, double beat_zero_seconds,
                     int start_pip)
        : name_(std::move(name)),
          dimensions_(std::move(dimensions)),
          bpm_(bpm),
          beat_zero_seconds_(beat_zero_seconds),
          start_pip_(start_pip) {
        if (!detail::is_identifier(name_)) {
            throw std::invalid_argument("Invalid identifier");
        }

        if (!detail::time_base_ok(bpm_, beat_zero_seconds_)) {
            throw std::invalid_argument("A finite positive BPM and beat origin are required");
        }

        const std::size_t axes = dimensions_.size();
        const std::size_t rows = samples.size();
        if (!detail::recording_fits(axes, rows, start_pip_)) {
            throw std::invalid_argument("Empty recording or recording resource limit exceeded");
        }

        std::unordered_set<std::string> seen;
        seen.reserve(axes);
        for (const std::string& axis : dimensions_) {
            if (!detail::is_identifier(axis)) {
                throw std::invalid_argument("Invalid identifier");
            }
            if (!seen.insert(axis).second) {
                throw std::invalid_argument("Duplicate axis");
            }
        }

        // One allocation for the whole block.
        samples_.reserve(rows * axes);
        for (const std::vector<double>& row : samples) {
            if (row.size() != axes) {
                throw std::invalid_argument("Ragged recording");
            }
            for (const double value : row) {
                // False for NaN and both infinities as well as for magnitudes above 1.
                if (!(std::fabs(value) <= 1.0)) {
                    throw std::invalid_argument("Invalid sample");
                }
                samples_.push_back(value);
            }
        }
    }

    const std::string& name() const noexcept { return name_; }
    const std::vector<std::string>& dimensions() const noexcept { return dimensions_; }
    // Number of rows; 0 for a moved-from recording, which has no axes.
    int sample_count() const noexcept {
        const std::size_t axes = dimensions_.size();
        return axes == 0 ? 0 : static_cast<int>(samples_.size() / axes);
    }
    double bpm() const noexcept { return bpm_; }
    double beat_zero_seconds() const noexcept { return beat_zero_seconds_; }
    int start_pip() const noexcept { return start_pip_; }

    // The row of pip, one value per axis in axis order, exactly as stored. Throws
    // std::out_of_range for a pip outside the run; nothing wraps.
    std::vector<double> sample(int pip) const {
        if (pip < start_pip_) {
            throw std::out_of_range("Pip outside non-looping recording");
        }
        // The difference of two 32-bit values always fits 64 bits.
        const std::int64_t offset = static_cast<std::int64_t>(pip) - start_pip_;
        if (offset >= sample_count()) {
            throw std::out_of_range("Pip outside non-looping recording");
        }
        const std::size_t axes = dimensions_.size();
        const auto first =
            samples_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(offset) * axes);
        return std::vector<double>(first, first + static_cast<std::ptrdiff_t>(axes));
    }

private:
    std::string name_;
    std::vector<std::string> dimensions_;
    std::vector<double> samples_;
    double bpm_;
    double beat_zero_seconds_;
    int start_pip_;
};

}  // namespace kinetra

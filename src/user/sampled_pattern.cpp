#include <stdexcept>
#include <utility>

#include "kinetra/identifier.hpp"
#include "kinetra/user_patterns.hpp"

namespace kinetra {

namespace {

// Both comparisons are false for NaN, and infinities lie outside the range.
bool is_sample_value(double value) noexcept { return value >= -1.0 && value <= 1.0; }

}  // namespace

SampledPattern::SampledPattern(std::string name, std::string description,
                               std::vector<Offset3> samples)
    : name_(std::move(name)),
      description_(std::move(description)),
      samples_(std::move(samples)),
      dimensions_(1) {
    if (!detail::is_identifier(name_)) {
        throw std::invalid_argument("Invalid pattern name");
    }
    if (samples_.empty() || samples_.size() > detail::max_pattern_samples) {
        throw std::invalid_argument("A pattern requires 1..65535 samples (one per pip)");
    }
    // One pass: validate each row, then let it raise the dimension count. -0.0 == 0.0, so
    // negative zero never counts as movement.
    for (const Offset3& row : samples_) {
        if (!is_sample_value(row.x) || !is_sample_value(row.y) || !is_sample_value(row.z)) {
            throw std::invalid_argument("Pattern samples must be finite and within [-1, 1]");
        }
        if (row.z != 0.0) {
            dimensions_ = 3;
        } else if (row.y != 0.0 && dimensions_ != 3) {
            dimensions_ = 2;
        }
    }
}

RudimentInfo SampledPattern::info() const noexcept {
    // Every constructed pattern has at most 65535 rows; a moved-from one has none.
    return {name_, description_, static_cast<std::uint16_t>(samples_.size()), dimensions_};
}

Offset3 SampledPattern::sample(int pip) const {
    if (samples_.empty()) {
        throw std::logic_error("Cannot sample a moved-from pattern");
    }
    return samples_[static_cast<std::size_t>(wrap_pip(pip, static_cast<int>(samples_.size())))];
}

}  // namespace kinetra

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

#include "kinetra/user_patterns.hpp"

namespace kinetra {

namespace {

// The first built-in row named name, in catalogue order, or nullptr.
const RudimentInfo* find_builtin(const std::vector<RudimentInfo>& rows, std::string_view name) {
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [name](const RudimentInfo& row) { return row.name == name; });
    return it == rows.end() ? nullptr : &*it;
}

// Same description, same period and every row equal to the built-in lookup's, compared with
// ==, so 0.0 and -0.0 count as equal. Dimension counts are not compared.
bool is_exact_copy(const SampledPattern& pattern, const RudimentInfo& row) {
    if (pattern.description() != row.description || pattern.sample_count() != row.period_pips) {
        return false;
    }
    const int count = static_cast<int>(pattern.sample_count());
    for (int pip = 0; pip < count; ++pip) {
        const Offset3 own = pattern.sample(pip);
        const Offset3 builtin = kinetra::sample(pattern.name(), pip);
        if (own.x != builtin.x || own.y != builtin.y || own.z != builtin.z) {
            return false;
        }
    }
    return true;
}

}  // namespace

PatternLibrary::PatternLibrary(std::vector<SampledPattern> patterns) {
    if (patterns.size() > detail::max_library_patterns) {
        throw std::invalid_argument("Too many patterns");
    }
    std::unordered_set<std::string> names;
    names.reserve(patterns.size());
    std::size_t total_samples = 0;
    const std::vector<RudimentInfo>& builtin = kinetra::catalogue();
    patterns_.reserve(patterns.size());

    for (SampledPattern& pattern : patterns) {
        if (pattern.sample_count() == 0) {
            throw std::invalid_argument("Empty/moved-from pattern");
        }
        if (!names.insert(pattern.name()).second) {
            throw std::invalid_argument("Duplicate pattern name: " + pattern.name());
        }
        total_samples += pattern.sample_count();
        if (total_samples > detail::max_library_samples) {
            throw std::invalid_argument("Pattern pack is too large");
        }
        if (const RudimentInfo* row = find_builtin(builtin, pattern.name())) {
            // An exact copy answers through the built-in lookup with the same results, so
            // it is accepted without being stored.
            if (!is_exact_copy(pattern, *row)) {
                throw std::invalid_argument("Cannot override default pattern: " + pattern.name());
            }
            continue;
        }
        patterns_.push_back(std::move(pattern));
    }
}

Offset3 PatternLibrary::sample(std::string_view name, int pip) const {
    for (const SampledPattern& pattern : patterns_) {
        if (pattern.name() == name) {
            return pattern.sample(pip);
        }
    }
    return kinetra::sample(name, pip);
}

std::vector<RudimentInfo> PatternLibrary::catalogue() const {
    const std::vector<RudimentInfo>& builtin = kinetra::catalogue();
    std::vector<RudimentInfo> rows;
    rows.reserve(builtin.size() + patterns_.size());
    rows.insert(rows.end(), builtin.begin(), builtin.end());
    for (const SampledPattern& pattern : patterns_) {
        rows.push_back(pattern.info());
    }
    return rows;
}

}  // namespace kinetra

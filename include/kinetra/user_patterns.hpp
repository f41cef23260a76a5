#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kinetra/catalogue.hpp"
#include "kinetra/core.hpp"

namespace kinetra {

namespace detail {

// Row limit of a SampledPattern, and the pack limits of a PatternLibrary.
inline constexpr std::size_t max_pattern_samples = 65535;
inline constexpr std::size_t max_library_patterns = 1024;
inline constexpr std::size_t max_library_samples = 1048576;

}  // namespace detail

// A caller-supplied pattern: a validated name, a description and one row per pip.
class KINETRA_API SampledPattern {
public:
    // Throws std::invalid_argument on the first broken rule (name, sample count, values).
    SampledPattern(std::string name, std::string description, std::vector<Offset3> samples);

    // Catalogue row viewing this pattern's own strings; period 0 once moved from.
    RudimentInfo info() const noexcept;
    // Row wrap_pip(pip, count); throws std::logic_error on a moved-from pattern.
    Offset3 sample(int pip) const;

    const std::string& name() const noexcept { return name_; }
    const std::string& description() const noexcept { return description_; }
    std::size_t sample_count() const noexcept { return samples_.size(); }
    std::uint8_t dimensions() const noexcept { return dimensions_; }

private:
    std::string name_;
    std::string description_;
    std::vector<Offset3> samples_;
    std::uint8_t dimensions_;
};

// An immutable set of user patterns answering by name beside the built-in catalogue.
class KINETRA_API PatternLibrary {
public:
    // Throws std::invalid_argument on limits, duplicates, moved-from patterns or a changed
    // copy of a built-in pattern.
    explicit PatternLibrary(std::vector<SampledPattern> patterns);

    // Own patterns first, then the built-in lookup.
    Offset3 sample(std::string_view name, int pip) const;
    // Built-in rows followed by the rows of the library's own patterns.
    std::vector<RudimentInfo> catalogue() const;

private:
    std::vector<SampledPattern> patterns_;
};

}  // namespace kinetra

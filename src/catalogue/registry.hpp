#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kinetra/core.hpp"

namespace kinetra::detail {

// One baked pattern of the registry; the first four fields are those of RudimentInfo.
struct PatternEntry {
    std::string_view name;
    std::string_view description;
    std::uint16_t period_pips;
    std::uint8_t dimensions;
    Offset3 (*sampler)(int);
};

// Written by the pattern generator (registry_data.cpp in the build tree).
extern const PatternEntry registry[];
extern const std::size_t registry_size;
// Registry positions sorted by byte-wise name order.
extern const std::uint64_t registry_name_index[];

}  // namespace kinetra::detail

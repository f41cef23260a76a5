#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "kinetra/core.hpp"

namespace kinetra {

// One catalogue row. The views of built-in rows point to static text.
struct RudimentInfo {
    std::string_view name;
    std::string_view description;
    std::uint16_t period_pips;
    std::uint8_t dimensions;
};

// Evaluates the built-in pattern called name at pip.
// Throws std::invalid_argument "Unknown dance rudiment: <name>" for any other name.
KINETRA_API Offset3 sample(std::string_view name, int pip);

// Every built-in pattern: the procedural ones, then the baked ones in registry order.
// Built on the first call; every call returns the same vector.
KINETRA_API const std::vector<RudimentInfo>& catalogue();

}  // namespace kinetra

#pragma once

#include <cstddef>
#include <string_view>

#include "registry.hpp"

namespace kinetra::detail {

// The fifteen procedural patterns in catalogue order, in the registry's record form.
inline constexpr std::size_t procedural_count = 15;
extern const PatternEntry procedural_patterns[procedural_count];

// Position of the procedural pattern called name, or procedural_count if there is none.
std::size_t find_procedural(std::string_view name) noexcept;

}  // namespace kinetra::detail

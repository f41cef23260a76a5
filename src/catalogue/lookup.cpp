#include <stdexcept>
#include <string>

#include "kinetra/catalogue.hpp"
#include "procedural.hpp"
#include "registry.hpp"

namespace kinetra {

namespace {

// Lower-bound binary search of the name index; registry_size when no entry has this name.
std::size_t find_baked(std::string_view name) noexcept {
    std::size_t first = 0;
    std::size_t count = detail::registry_size;
    while (count > 0) {
        const std::size_t half = count / 2;
        const std::size_t mid = first + half;
        if (detail::registry[detail::registry_name_index[mid]].name < name) {
            first = mid + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    if (first == detail::registry_size) {
        return detail::registry_size;
    }
    const std::size_t position = detail::registry_name_index[first];
    return detail::registry[position].name == name ? position : detail::registry_size;
}

}  // namespace

Offset3 sample(std::string_view name, int pip) {
    const std::size_t procedural = detail::find_procedural(name);
    if (procedural != detail::procedural_count) {
        return detail::procedural_patterns[procedural].sampler(pip);
    }
    const std::size_t baked = find_baked(name);
    if (baked != detail::registry_size) {
        return detail::registry[baked].sampler(pip);
    }
    throw std::invalid_argument("Unknown dance rudiment: " + std::string(name));
}

}  // namespace kinetra

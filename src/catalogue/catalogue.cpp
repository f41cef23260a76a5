#include "kinetra/catalogue.hpp"
#include "procedural.hpp"
#include "registry.hpp"

namespace kinetra {

namespace {

RudimentInfo row_of(const detail::PatternEntry& entry) noexcept {
    return {entry.name, entry.description, entry.period_pips, entry.dimensions};
}

std::vector<RudimentInfo> build_catalogue() {
    std::vector<RudimentInfo> rows;
    rows.reserve(detail::procedural_count + detail::registry_size);
    for (const detail::PatternEntry& entry : detail::procedural_patterns) {
        rows.push_back(row_of(entry));
    }
    for (std::size_t i = 0; i < detail::registry_size; ++i) {
        rows.push_back(row_of(detail::registry[i]));
    }
    return rows;
}

}  // namespace

const std::vector<RudimentInfo>& catalogue() {
    // Guarded one-time initialisation: concurrent first callers wait for one builder.
    static const std::vector<RudimentInfo> rows = build_catalogue();
    return rows;
}

}  // namespace kinetra

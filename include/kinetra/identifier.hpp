#pragma once

#include <string_view>

namespace kinetra::detail {

// The identifier rule of pattern names, recording names and axis names: 1 to 128 bytes of
// [a-z0-9_], the first in [a-z]. Bytes compare as unsigned values, so every byte of a
// multi-byte UTF-8 sequence fails.
constexpr bool is_identifier(std::string_view text) noexcept {
    if (text.empty() || text.size() > 128) {
        return false;
    }
    const auto first = static_cast<unsigned char>(text.front());
    if (first < 'a' || first > 'z') {
        return false;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '_')) {
            return false;
        }
    }
    return true;
}

}  // namespace kinetra::detail

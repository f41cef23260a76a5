#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

#include "kinetra/catalogue.hpp"
#include "procedural.hpp"
#include "registry.hpp"

namespace kinetra {

namespace {

using detail::NameKey;

// Name lookup. A name of 8 to name_key_bytes bytes that does not end in a zero byte (every
// baked name) is turned into its NameKey once; from then on every comparison of the binary
// search is a comparison of four words held in registers against four words laid out
// contiguously. Any other name takes the same steps comparing the names themselves.

std::uint64_t load_big_endian(const char* bytes) noexcept {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little) {
        word = __builtin_bswap64(word);
    }
    return word;
}

// The key of name if comparing keys orders name against every registry name as a byte-wise
// comparison does. That holds when name fits the key and does not end in a zero byte:
// registry names hold no zero byte, so the zero padding can then never tie two different
// names. Names shorter than 8 bytes are left to the plain comparison too: no baked name is
// that short, and each word is read with one unaligned load that must stay within the name.
bool make_key(std::string_view name, NameKey& key) noexcept {
    const std::size_t size = name.size();
    if (size < 8 || size > detail::name_key_bytes || name.back() == '\0') {
        return false;
    }
    // Word i holds bytes 8i to 8i + 7. It is read from the last 8 bytes of the name that
    // start no later than byte 8i and then shifted so that byte 8i comes first; the shift
    // pushes out the bytes before 8i and brings in the zero padding. Without branches, since
    // the name's length is different from call to call.
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t start = 8 * i;
        const std::size_t from = std::min(start, size - 8);
        const std::size_t shift = 8 * (start - from);
        const std::uint64_t word = load_big_endian(name.data() + from);
        key.word[i] = shift < 64 ? word << (shift & 63) : 0;
    }
    return true;
}

bool key_less(const NameKey& a, const NameKey& b) noexcept {
    using u128 = unsigned __int128;
    const u128 a_high = (u128{a.word[0]} << 64) | a.word[1];
    const u128 b_high = (u128{b.word[0]} << 64) | b.word[1];
    const u128 a_low = (u128{a.word[2]} << 64) | a.word[3];
    const u128 b_low = (u128{b.word[2]} << 64) | b.word[3];
    return a_high < b_high || (a_high == b_high && a_low < b_low);
}

bool key_equal(const NameKey& a, const NameKey& b) noexcept {
    return ((a.word[0] ^ b.word[0]) | (a.word[1] ^ b.word[1]) | (a.word[2] ^ b.word[2]) |
            (a.word[3] ^ b.word[3])) == 0;
}

// Lower-bound binary search of the name index: the first index position whose name is not
// less than the searched one, registry_size if there is none. name_less(k) tells whether the
// name at index position k is less than the searched name.
template <typename NameLess>
std::size_t lower_bound_position(NameLess name_less) noexcept {
    std::size_t first = 0;
    std::size_t count = detail::registry_size;
    while (count > 0) {
        const std::size_t half = count / 2;
        const std::size_t mid = first + half;
        if (name_less(mid)) {
            first = mid + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    return first;
}

// The sampler of the built-in pattern called name, or nullptr. Procedural names first (a
// length switch and one comparison), then the binary search of the baked names.
detail::Sampler find_sampler(std::string_view name) noexcept {
    const std::size_t procedural = detail::find_procedural(name);
    if (procedural != detail::procedural_count) {
        return detail::procedural_patterns[procedural].sampler;
    }
    NameKey key;
    std::size_t first;
    bool found;
    if (make_key(name, key)) {
        first = lower_bound_position(
            [&key](std::size_t k) { return key_less(detail::registry_name_keys[k], key); });
        found = first != detail::registry_size && key_equal(detail::registry_name_keys[first], key);
    } else {
        first = lower_bound_position([name](std::size_t k) {
            return detail::registry[detail::registry_name_index[k]].name < name;
        });
        found = first != detail::registry_size &&
                detail::registry[detail::registry_name_index[first]].name == name;
    }
    return found ? detail::registry_name_samplers[first] : nullptr;
}

}  // namespace

Offset3 sample(std::string_view name, int pip) {
    if (const detail::Sampler sampler = find_sampler(name)) {
        return sampler(pip);
    }
    throw UnknownNameError("Unknown dance rudiment: " + std::string(name));
}

}  // namespace kinetra

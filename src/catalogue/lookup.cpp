#include <algorithm>
#include <array>
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
// baked name and most procedural ones) is turned into its NameKey once; from then on every
// comparison, procedural or baked, is a comparison of four words held in registers against
// four words laid out contiguously. Any other name takes the same steps comparing the names
// themselves.

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

constexpr NameKey literal_key(std::string_view name) {
    NameKey key{};
    for (std::size_t i = 0; i < name.size(); ++i) {
        key.word[i / 8] |= std::uint64_t{static_cast<unsigned char>(name[i])} << (56 - 8 * (i % 8));
    }
    return key;
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

// The procedural names that have a key, found by their length: one candidate per length,
// except 18, where single_stroke_roll and double_stroke_roll differ in their first byte.
// Slots without a name hold the zero key, which no name with a key has (its last byte is not
// zero). Positions are rows of detail::procedural_patterns, which is in catalogue order.
struct ProceduralSlot {
    NameKey key;
    std::size_t position;
};

constexpr std::size_t second_of_length_18 = detail::name_key_bytes + 1;

constexpr auto procedural_slots = [] {
    struct Named {
        std::string_view name;
        std::size_t position;
    };
    constexpr Named named[] = {
        {"figure_eight", 3},       {"step_touch", 4},         {"box_step", 5},
        {"clay_background", 7},    {"single_stroke_roll", 8}, {"multiple_bounce_roll", 10},
        {"single_paradiddle", 11}, {"five_stroke_roll", 14},
    };
    std::array<ProceduralSlot, second_of_length_18 + 1> slots{};
    for (const Named& n : named) {
        slots[n.name.size()] = {literal_key(n.name), n.position};
    }
    slots[second_of_length_18] = {literal_key("double_stroke_roll"), 9};
    return slots;
}();

const ProceduralSlot& procedural_slot(std::size_t size, const NameKey& key) noexcept {
    const bool second = (size == 18) & ((key.word[0] >> 56) == 'd');
    return procedural_slots[second ? second_of_length_18 : size];
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

// The sampler of the built-in pattern called name, or nullptr.
detail::Sampler find_sampler(std::string_view name) noexcept {
    NameKey key;
    if (make_key(name, key)) {
        const ProceduralSlot& slot = procedural_slot(name.size(), key);
        if (key_equal(slot.key, key)) {
            return detail::procedural_patterns[slot.position].sampler;
        }
        const std::size_t first = lower_bound_position(
            [&key](std::size_t k) { return key_less(detail::registry_name_keys[k], key); });
        if (first == detail::registry_size || !key_equal(detail::registry_name_keys[first], key)) {
            return nullptr;
        }
        return detail::registry_name_samplers[first];
    }

    const std::size_t procedural = detail::find_procedural(name);
    if (procedural != detail::procedural_count) {
        return detail::procedural_patterns[procedural].sampler;
    }
    const std::size_t first = lower_bound_position([name](std::size_t k) {
        return detail::registry[detail::registry_name_index[k]].name < name;
    });
    if (first == detail::registry_size ||
        detail::registry[detail::registry_name_index[first]].name != name) {
        return nullptr;
    }
    return detail::registry_name_samplers[first];
}

}  // namespace

Offset3 sample(std::string_view name, int pip) {
    if (const detail::Sampler sampler = find_sampler(name)) {
        return sampler(pip);
    }
    throw std::invalid_argument("Unknown dance rudiment: " + std::string(name));
}

}  // namespace kinetra

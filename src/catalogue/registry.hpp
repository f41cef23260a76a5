#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kinetra/core.hpp"

namespace kinetra::detail {

using Sampler = Offset3 (*)(int);

// One baked pattern of the registry; the first four fields are those of RudimentInfo.
struct PatternEntry {
    std::string_view name;
    std::string_view description;
    std::uint16_t period_pips;
    std::uint8_t dimensions;
    Sampler sampler;
};

// Longest baked name; the generator refuses longer ones.
inline constexpr std::size_t name_key_bytes = 32;

// A name in fixed-width form: its bytes padded with zero bytes to name_key_bytes, read as
// four big-endian 64-bit words. For names of at most name_key_bytes bytes that hold no zero
// byte, comparing the words as unsigned numbers, first word first, orders the names exactly
// as std::string_view does, and equal words mean equal names.
struct alignas(32) NameKey {
    std::uint64_t word[4];
};

// Written by the pattern generator (registry_data.cpp in the build tree).
extern const PatternEntry registry[];
extern const std::size_t registry_size;
// Registry positions sorted by byte-wise name order.
extern const std::uint64_t registry_name_index[];
// Per index position k, the key of the name of registry[registry_name_index[k]] and that
// entry's sampler: the names in index order laid out contiguously for the binary search, and
// what a found position answers with, without a detour through the registry.
extern const NameKey registry_name_keys[];
extern const Sampler registry_name_samplers[];

}  // namespace kinetra::detail

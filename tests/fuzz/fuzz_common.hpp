#pragma once

// Shared by the fuzz targets: input helpers and the check that stops the run on a broken
// invariant (a crash that libFuzzer and the replay driver both report with its input).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// Bit-for-bit equality of two doubles (tells -0.0 from 0.0, and matches NaN payloads).
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A double that is usually interesting for the value rules: the ends of [-1, 1], their
// neighbours, zeros of both signs, NaN and the infinities, or any bit pattern.
inline double pick_double(FuzzedDataProvider& data) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    switch (data.ConsumeIntegralInRange<int>(0, 11)) {
        case 0:
            return 1.0;
        case 1:
            return -1.0;
        case 2:
            return std::nextafter(1.0, 2.0);
        case 3:
            return std::nextafter(-1.0, -2.0);
        case 4:
            return -0.0;
        case 5:
            return std::numeric_limits<double>::quiet_NaN();
        case 6:
            return inf;
        case 7:
            return -inf;
        case 8: {
            std::uint64_t bits = data.ConsumeIntegral<std::uint64_t>();
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        default:
            return data.ConsumeFloatingPointInRange<double>(-1.0, 1.0);
    }
}

// A name: mostly built from identifier bytes (so that valid names are common), sometimes any
// bytes; lengths around the 128-byte limit come up often.
inline std::string pick_name(FuzzedDataProvider& data) {
    static const char alphabet[] = "abcxyz019_AZ-. \xc3\xa9";
    std::size_t length = 0;
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            length = data.ConsumeIntegralInRange<std::size_t>(126, 130);
            break;
        case 1:
            return data.ConsumeRandomLengthString(140);
        default:
            length = data.ConsumeIntegralInRange<std::size_t>(0, 6);
            break;
    }
    std::string name;
    const bool plain = data.ConsumeBool();
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t top = plain ? 9 : sizeof alphabet - 2;
        name.push_back(alphabet[data.ConsumeIntegralInRange<std::size_t>(0, top)]);
    }
    return name;
}

// The identifier rule, written out independently of the library.
inline bool reference_identifier(const std::string& text) {
    if (text.empty() || text.size() > 128 || text[0] < 'a' || text[0] > 'z') {
        return false;
    }
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

inline bool reference_sample_value(double v) { return std::isfinite(v) && v >= -1.0 && v <= 1.0; }

}  // namespace fuzz

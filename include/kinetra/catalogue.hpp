#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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

// Thrown by sample() for a name that is not in the catalogue: "Unknown dance rudiment: <name>".
// The name may hold zero bytes (a name given as raw bytes): what() is a C string and stops at
// the first zero byte, message() holds every byte. Copies share the text, so copying never
// throws.
class UnknownNameError : public std::invalid_argument {
public:
    explicit UnknownNameError(std::string message)
        : std::invalid_argument(message),
          message_(std::make_shared<const std::string>(std::move(message))) {}
    std::string_view message() const noexcept { return *message_; }

private:
    std::shared_ptr<const std::string> message_;
};

// Evaluates the built-in pattern called name at pip.
// Throws UnknownNameError for any other name.
KINETRA_API Offset3 sample(std::string_view name, int pip);

// Every built-in pattern: the procedural ones, then the baked ones in registry order.
// Built on the first call; every call returns the same vector.
KINETRA_API const std::vector<RudimentInfo>& catalogue();

}  // namespace kinetra

#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kinetra::detail {

// A std::invalid_argument whose message ends with a caller's name, which may hold zero bytes (a
// name given as raw bytes): what() is a C string and stops at the first zero byte, message()
// holds every byte. Copies share the text, so copying never throws.
class NamedError : public std::invalid_argument {
public:
    explicit NamedError(std::string message)
        : std::invalid_argument(message), message_(std::make_shared<const std::string>(std::move(message))) {}
    std::string_view message() const noexcept { return *message_; }

private:
    std::shared_ptr<const std::string> message_;
};

}  // namespace kinetra::detail

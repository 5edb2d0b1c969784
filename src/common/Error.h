#pragma once
// The one error type of the program: it carries the text the user sees in the
// error box. Raised anywhere in the core, caught once by the window.
#include <stdexcept>
#include <string>

namespace corvane {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// Texts shared by several layers.
inline constexpr const char* kNoDeviceOpen = "No MCI device open";

} // namespace corvane

// The hidden service mode and the start-up options "cc:", "mf:" and "f:".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// The per-user setting "intern" holding this number unlocks service mode.
inline constexpr std::uint32_t kServiceModeUnlock = 4187;

// True exactly when the per-user setting "intern" is an integer equal to kServiceModeUnlock;
// a missing, unreadable or differently typed value means normal mode.
bool isServiceMode();

// The longest option value taken from a parameter.
inline constexpr std::size_t kMaxParamValue = 1000;

// The rest (at most kMaxParamValue characters) of the first parameter that is longer than
// prefix and begins with it, the letters A to Z compared without regard to case; def when no
// parameter does. The parameters are those after the program's own path, as
// platform::programParameters gives them.
std::string getParamValue(const std::vector<std::string>& parameters, std::string_view prefix,
                          const std::string& def);

struct StartupOptions {
    int serviceLevel = 0;            // 0 normal, 1 service mode, 2 with the file functions
    bool measurementFormat = false;  // the update clears the logger's measurements
    bool checkClass = true;          // the catalogue scan compares the module's class
};

// Service mode: level 1, or 2 with "f:+"; "cc:-" turns the class check off. In every mode
// "mf:+" and "mf:-" set the measurement format. Only the exact values "+" and "-" count.
StartupOptions applyStartupOptions(bool serviceMode, const std::vector<std::string>& parameters);

}  // namespace qor

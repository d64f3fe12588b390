// The per-user settings of the program's maker, read only: never created or written here.
// Windows: the registry key HKEY_CURRENT_USER\Software\Vandrel\Qor.
// Elsewhere: the text file Vandrel/Qor.conf in $XDG_CONFIG_HOME (when that is an absolute path,
// else in ~/.config), one "name=value" per line; a value is an integer only when it is written
// as a decimal number from 0 to 4294967295 (any other text stands for a value of another type).
// Blank lines and lines that begin with "#" or ";" are ignored; names are compared without
// regard to the case of A to Z, as registry value names are; the first line of a name counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qor::platform {

// The 32-bit integer value `name`; nothing when the store, the key or the value is missing or
// unreadable, or the value is of another type.
std::optional<std::uint32_t> readUserInteger(const std::string& name);

}  // namespace qor::platform

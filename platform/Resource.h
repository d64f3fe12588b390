// Data carried inside the program file (Windows: RCDATA resources).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qor::platform {

// The bytes of the named embedded resource; names compare without regard to case. Throws
// std::runtime_error when the program carries no such resource.
std::span<const std::uint8_t> findResource(const std::string& name);

// Where the program file format has no resources of its own (POSIX), the build links a
// generated object that registers each embedded file under its name at start-up.
struct ResourceRegistration {
    ResourceRegistration(const char* name, const std::uint8_t* data, std::size_t size);
};

}  // namespace qor::platform

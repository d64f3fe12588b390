#include "platform/Resource.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

namespace qor::platform {
namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::map<std::string, std::span<const std::uint8_t>>& table() {
    static std::map<std::string, std::span<const std::uint8_t>> resources;
    return resources;
}

}  // namespace

ResourceRegistration::ResourceRegistration(const char* name, const std::uint8_t* data,
                                           std::size_t size) {
    table()[upper(name)] = std::span<const std::uint8_t>(data, size);
}

std::span<const std::uint8_t> findResource(const std::string& name) {
    const auto it = table().find(upper(name));
    if (it == table().end()) {
        throw std::runtime_error("Resource " + name + " not found");
    }
    return it->second;
}

}  // namespace qor::platform

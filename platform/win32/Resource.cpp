#include "platform/Resource.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/WinText.h"

namespace qor::platform {

ResourceRegistration::ResourceRegistration(const char*, const std::uint8_t*, std::size_t) {}

std::span<const std::uint8_t> findResource(const std::string& name) {
    const std::wstring wide = widen(name);
    HRSRC info = FindResourceW(nullptr, wide.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = info != nullptr ? LoadResource(nullptr, info) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        throw std::runtime_error("Resource " + name +
                                 " not found: " + systemErrorText(GetLastError()));
    }
    return {static_cast<const std::uint8_t*>(data), SizeofResource(nullptr, info)};
}

}  // namespace qor::platform

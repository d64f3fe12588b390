// UTF-8 <-> UTF-16 for the Win32 wide-character calls.
#pragma once

#include <string>

namespace qor::platform {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

// The system's text for a Win32 error code, without the trailing line break.
std::string systemErrorText(unsigned long code);

}  // namespace qor::platform

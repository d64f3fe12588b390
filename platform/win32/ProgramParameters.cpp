#include "platform/ProgramParameters.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include "platform/win32/WinText.h"

namespace qor::platform {
namespace {

// Strictly: no best-fit mapping, so a look-alike character never turns into an option letter.
std::string toAnsi(const wchar_t* text) {
    const int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

}  // namespace

std::vector<std::string> programParameters() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> parameters;
    if (arguments == nullptr) {
        return parameters;
    }
    for (int i = 1; i < count; ++i) {
        parameters.push_back(toAnsi(arguments[i]));
    }
    LocalFree(arguments);
    return parameters;
}

std::string programPath() {
    // Long paths: grow until the whole name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace qor::platform

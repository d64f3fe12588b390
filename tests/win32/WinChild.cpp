// A Windows console program that the runner tests start, and that the tool-run tests carry as
// their DFU tool. It works through steps, taken from its arguments or, when the environment
// variable QOR_CHILD_STEPS is set (the tool run's command line is fixed), from there,
// separated by '|':
//   out:TEXT   writes TEXT to standard output (\r, \n and \\ escaped)   fill:N  writes N bytes
//   sleep:MS   exit:N   cwd  writes the working directory   cmdline  writes the command line
//   startup    writes what the parent asked for: "flags=<hex> show=<n> out=<pipe|other>"
//   files      writes the sizes of this program's file and of the file after -pkg:
//              "self=<bytes> pkg=<bytes>" (-1: cannot be read)
//   port       tries to open the port after -p exclusively: "port free" or "port busy <error>"
//   Each written item but out and fill ends with CR LF.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void writeAll(const std::string& bytes) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                       nullptr) ||
            n == 0) {
            ExitProcess(100);
        }
        done += n;
    }
}

std::string narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool startsWith(const std::string& s, const char* prefix, std::string& rest) {
    const std::size_t n = std::strlen(prefix);
    if (s.compare(0, n, prefix) != 0) {
        return false;
    }
    rest = s.substr(n);
    return true;
}

long long fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The argument after `option` in this program's own command line; empty when there is none.
std::wstring argumentAfter(const wchar_t* option) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring value;
    for (int i = 0; argv != nullptr && i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], option) == 0) {
            value = argv[i + 1];
            break;
        }
    }
    LocalFree(argv);
    return value;
}

std::vector<std::string> steps(int argc, char** argv) {
    const char* fromEnvironment = std::getenv("QOR_CHILD_STEPS");
    std::vector<std::string> list;
    if (fromEnvironment == nullptr) {
        list.assign(argv + 1, argv + argc);
        return list;
    }
    std::string all = fromEnvironment;
    for (std::size_t start = 0;;) {
        const std::size_t bar = all.find('|', start);
        list.push_back(all.substr(start, bar - start));
        if (bar == std::string::npos) {
            return list;
        }
        start = bar + 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (const std::string& step : steps(argc, argv)) {
        std::string value;
        if (startsWith(step, "out:", value)) {
            writeAll(unescape(value));
        } else if (startsWith(step, "fill:", value)) {
            writeAll(std::string(std::strtoul(value.c_str(), nullptr, 10), 'x'));
        } else if (startsWith(step, "sleep:", value)) {
            Sleep(static_cast<DWORD>(std::atoi(value.c_str())));
        } else if (startsWith(step, "exit:", value)) {
            return std::atoi(value.c_str());
        } else if (step == "cwd") {
            wchar_t dir[MAX_PATH + 1];
            GetCurrentDirectoryW(MAX_PATH + 1, dir);
            writeAll(narrow(dir) + "\r\n");
        } else if (step == "cmdline") {
            writeAll(narrow(GetCommandLineW()) + "\r\n");
        } else if (step == "startup") {
            STARTUPINFOW si{};
            si.cb = sizeof si;
            GetStartupInfoW(&si);
            char text[128];
            const bool pipe = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE;
            std::snprintf(text, sizeof text, "flags=%lx show=%u out=%s\r\n", si.dwFlags,
                          si.wShowWindow, pipe ? "pipe" : "other");
            writeAll(text);
        } else if (step == "files") {
            wchar_t self[MAX_PATH + 1];
            GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
            writeAll("self=" + std::to_string(fileSize(self)) +
                     " pkg=" + std::to_string(fileSize(argumentAfter(L"-pkg"))) + "\r\n");
        } else if (step == "port") {
            const std::wstring path = L"\\\\.\\" + argumentAfter(L"-p");
            const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                writeAll("port busy " + std::to_string(GetLastError()) + "\r\n");
            } else {
                CloseHandle(h);
                writeAll("port free\r\n");
            }
        } else {
            writeAll("unknown step: " + step + "\r\n");
            return 99;
        }
    }
    return 0;
}

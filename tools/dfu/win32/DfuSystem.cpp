#include "tools/dfu/DfuSystem.h"

#include "tools/dfu/StdioFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/CommandLine.h"
#include "platform/win32/WinText.h"

namespace qor::dfu {

std::vector<std::string> toolArguments(int /*argc*/, char** /*argv*/) {
    // The CRT's argv is in the ANSI code page; the wide command line keeps every character.
    auto args = platform::splitCommandLine(platform::narrow(GetCommandLineW()));
    if (!args.empty()) {
        args.erase(args.begin());
    }
    return args;
}

bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = _wfopen(platform::widen(path).c_str(), L"rb");
    return file != nullptr && readAllAndClose(file, bytes);
}

void writeOutputLine(const std::string& line) {
    // Binary mode: the CR LF written here must not become CR CR LF.
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
    const std::string out = line + "\r\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::string lastSystemErrorText() {
    return platform::systemErrorText(GetLastError());
}

}  // namespace qor::dfu

// The DFU tool's progress-line parser fed arbitrary lines. It must agree with the plain reading
// on lines made of two decimal numbers joined by a slash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/KECommThread.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::int32_t n = 0;
    std::int32_t m = 0;
    const bool progress = qor::TKECommThread::parseProgressLine(line, n, m);

    const auto slash = line.find('/');
    const std::string first = line.substr(0, slash);
    const std::string second = slash == std::string::npos ? "" : line.substr(slash + 1);
    const auto plainNumber = [](const std::string& s) {
        return !s.empty() && s.size() <= 9 &&
               s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (plainNumber(first) && plainNumber(second)) {
        if (!progress || n != std::stoi(first) || m != std::stoi(second)) {
            std::abort();
        }
    }
    return 0;
}

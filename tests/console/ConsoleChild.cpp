// A console program the runner tests start: it works through its arguments as steps.
//   out:TEXT  writes TEXT to standard output (\r, \n and \\ escaped)   err:TEXT  the same to
//   standard error   fill:N  writes N bytes   sleep:MS   exit:N   cwd  writes the working
//   directory   env:NAME  writes the variable's value   cat  copies standard input to output
//   argv  writes every further argument followed by a zero byte, then ends
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            std::exit(100);
        }
        done += static_cast<std::size_t>(n);
    }
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

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        std::string value;
        if (step == "argv") {
            for (int j = i + 1; j < argc; ++j) {
                writeAll(1, std::string(argv[j]) + '\0');
            }
            return 0;
        } else if (startsWith(step, "out:", value)) {
            writeAll(1, unescape(value));
        } else if (startsWith(step, "err:", value)) {
            writeAll(2, unescape(value));
        } else if (startsWith(step, "fill:", value)) {
            writeAll(1, std::string(std::strtoul(value.c_str(), nullptr, 10), 'x'));
        } else if (startsWith(step, "sleep:", value)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value.c_str())));
        } else if (startsWith(step, "exit:", value)) {
            return std::atoi(value.c_str());
        } else if (step == "cwd") {
            std::vector<char> buffer(4096);
            writeAll(1, getcwd(buffer.data(), buffer.size()) != nullptr ? buffer.data() : "?");
        } else if (startsWith(step, "env:", value)) {
            const char* v = std::getenv(value.c_str());
            writeAll(1, v != nullptr ? v : "<unset>");
        } else if (step == "cat") {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = read(0, buffer, sizeof buffer)) > 0) {
                writeAll(1, std::string(buffer, static_cast<std::size_t>(n)));
            }
        } else {
            writeAll(2, "unknown step: " + step + "\n");
            return 99;
        }
    }
    return 0;
}

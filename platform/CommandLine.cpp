#include "platform/CommandLine.h"

#include <cstddef>

namespace qor::platform {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::size_t skipBlanks(const std::string& s, std::size_t i) {
    while (i < s.size() && isBlank(s[i])) {
        ++i;
    }
    return i;
}

}  // namespace

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const std::string& s = commandLine;
    std::size_t i = skipBlanks(s, 0);
    if (i == s.size()) {
        return args;
    }

    // The program name: no escapes, a quote only groups.
    std::string program;
    if (s[i] == '"') {
        ++i;
        while (i < s.size() && s[i] != '"') {
            program += s[i++];
        }
        if (i < s.size()) {
            ++i;
        }
    } else {
        while (i < s.size() && !isBlank(s[i])) {
            program += s[i++];
        }
    }
    args.push_back(std::move(program));

    for (i = skipBlanks(s, i); i < s.size(); i = skipBlanks(s, i)) {
        std::string arg;
        bool quoted = false;
        while (i < s.size() && (quoted || !isBlank(s[i]))) {
            if (s[i] == '\\') {
                std::size_t backslashes = 0;
                while (i < s.size() && s[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < s.size() && s[i] == '"') {
                    arg.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                    // An even count leaves the quote for the toggle below.
                } else {
                    arg.append(backslashes, '\\');
                }
            } else if (s[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += s[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string quoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote itself escaped.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // Those before the closing quote are doubled too.
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

std::string quoteProgram(const std::string& program) {
    return program.find_first_of(" \t") == std::string::npos ? program : '"' + program + '"';
}

}  // namespace qor::platform

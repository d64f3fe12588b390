#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* commandLine;
    std::vector<std::string> args;
};

// Test names keep only letters and digits of the command line.
void PrintTo(const SplitCase& c, std::ostream* os) {
    for (const char* p = c.commandLine; *p != 0; ++p) {
        *os << (std::isalnum(static_cast<unsigned char>(*p)) != 0 ? *p : '_');
    }
}

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, FollowsTheWindowsRunTimeRules) {
    EXPECT_EQ(qor::platform::splitCommandLine(GetParam().commandLine), GetParam().args)
        << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLine,
    ::testing::Values(
        SplitCase{"", {}}, SplitCase{" \t ", {}},
        SplitCase{"prog a  b\tc", {"prog", "a", "b", "c"}}, SplitCase{"  prog a ", {"prog", "a"}},
        SplitCase{R"(prog "a b" "" c)", {"prog", "a b", "", "c"}},
        SplitCase{R"(prog a"b c"d)", {"prog", "ab cd"}},
        SplitCase{R"(prog "a""b")", {"prog", "ab"}},
        SplitCase{R"(prog "open end)", {"prog", "open end"}},
        // Backslashes count only before a double quote.
        SplitCase{R"(prog a\b a\\b c:\dir\)", {"prog", R"(a\b)", R"(a\\b)", R"(c:\dir\)"}},
        SplitCase{R"(prog a\"b)", {"prog", R"(a"b)"}},
        SplitCase{R"(prog a\\"b c")", {"prog", R"(a\b c)"}},
        SplitCase{R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
        SplitCase{R"(prog "c:\dir\\" x)", {"prog", R"(c:\dir\)", "x"}},
        SplitCase{R"(prog "say \"hi\"")", {"prog", R"(say "hi")"}},
        // The program name: quotes group, backslashes and quotes inside stay as they are.
        SplitCase{R"("/my dir/prog" -p "COM 3")", {"/my dir/prog", "-p", "COM 3"}},
        SplitCase{R"(pr\"og x)", {R"(pr\"og)", "x"}},
        SplitCase{R"("c:\dir\"x y)", {R"(c:\dir\)", "x", "y"}}));

}  // namespace

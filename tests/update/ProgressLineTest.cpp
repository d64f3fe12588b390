#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/KECommThread.h"

namespace qor {
namespace {

TEST(ProgressLine, SplitsLikeADelimitedTextList) {
    struct Case {
        std::string line;
        bool progress;
        std::int32_t n;
        std::int32_t m;
    };
    const std::vector<Case> cases = {
        {"0/72092", true, 0, 72092},
        {"4096/72092", true, 4096, 72092},
        {"1 2", true, 1, 2},              // a blank separates fields too
        {"  7 / 9  ", true, 7, 9},        // blanks around fields are skipped
        {"\"12\"/\"34\"", true, 12, 34},  // quoted fields
        {"-5/+10", true, -5, 10},
        {"$10/0x20", true, 16, 32},
        {"2147483647/1", true, 2147483647, 1},
        {"Start programming.", false, 0, 0},
        {"Device programmed.", false, 0, 0},
        {"", false, 0, 0},
        {"1/2/3", false, 0, 0},
        {"12", false, 0, 0},
        {"5/", false, 0, 0},  // the trailing delimiter adds an empty field
        {"/5", false, 0, 0},
        {"1/x", false, 0, 0},
        {"2147483648/1", false, 0, 0},  // beyond 32 bits
        {"Error: Failed to send firmware", false, 0, 0},
        {"1 2 3", false, 0, 0},
    };
    for (const auto& c : cases) {
        std::int32_t n = -99;
        std::int32_t m = -99;
        EXPECT_EQ(TKECommThread::parseProgressLine(c.line, n, m), c.progress) << c.line;
        if (c.progress) {
            EXPECT_EQ(n, c.n) << c.line;
            EXPECT_EQ(m, c.m) << c.line;
        }
    }
}

}  // namespace
}  // namespace qor

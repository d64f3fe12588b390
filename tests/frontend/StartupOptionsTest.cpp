// The option reader and the options' effect in and outside service mode.
#include <gtest/gtest.h>

#include "frontend/StartupOptions.h"
#include "platform/ProgramParameters.h"

namespace qor {
namespace {

using Parameters = std::vector<std::string>;

TEST(GetParamValue, FirstParameterLongerThanThePrefixWins) {
    struct Case {
        Parameters parameters;
        const char* prefix;
        const char* def;
        std::string value;
    };
    const Case cases[] = {
        {{}, "f:", "-", "-"},
        {{"F:+"}, "f:", "-", "+"},
        {{"f:"}, "f:", "-", "-"},            // exactly as long as the prefix
        {{"f:", "f:+"}, "f:", "-", "+"},     // ... and skipped for the next one
        {{"mf:+"}, "f:", "-", "-"},          // a match only at the beginning
        {{"mf:+", "mf:-"}, "mf:", "", "+"},  // the first match wins
        {{"x", "Cc:a=b:c"}, "cc:", "", "a=b:c"},
        {{"\xC0:+"}, "\xE0:", "", ""},  // Latin-1 letters keep their case
        {{"{:+"}, "[:", "", ""},        // so do characters that differ in the case bit
        {{"@:+"}, "`:", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(getParamValue(c.parameters, c.prefix, c.def), c.value)
            << c.prefix << " in " << testing::PrintToString(c.parameters);
    }
}

TEST(GetParamValue, AtMost1000CharactersOfValue) {
    const std::string value(1500, 'v');
    EXPECT_EQ(getParamValue({"f:" + value}, "f:", ""), value.substr(0, 1000));
}

TEST(StartupOptions, ByModeAndParameters) {
    struct Case {
        bool service;
        Parameters parameters;
        int level;
        bool measurementFormat;
        bool checkClass;
    };
    const Case cases[] = {
        {true, {}, 1, false, true},
        {true, {"F:+"}, 2, false, true},
        {true, {"f:"}, 1, false, true},
        {true, {"f:+x"}, 1, false, true},
        {true, {"f:-", "f:+"}, 1, false, true},
        {true, {"mf:+"}, 1, true, true},  // mf:+ is not the option f:
        {false, {"mf:+"}, 0, true, true},
        {false, {"cc:-", "f:+"}, 0, false, true},
        {true, {"cc:-"}, 1, false, false},
        {true, {"CC:-", "f:+"}, 2, false, false},
        {true, {"cc:--"}, 1, false, true},
        {true, {"mf:+", "mf:-"}, 1, true, true},
        {true, {"mf:-", "mf:+"}, 1, false, true},
        {false, {"mf:+x"}, 0, false, true},
    };
    for (const Case& c : cases) {
        const StartupOptions o = applyStartupOptions(c.service, c.parameters);
        const auto trace = testing::PrintToString(c.parameters) + (c.service ? " service" : "");
        EXPECT_EQ(o.serviceLevel, c.level) << trace;
        EXPECT_EQ(o.measurementFormat, c.measurementFormat) << trace;
        EXPECT_EQ(o.checkClass, c.checkClass) << trace;
    }
}

// The test program's own command line, as it was given before the test framework read it.
TEST(ProgramParameters, EverythingAfterTheProgramsPath) {
    const std::vector<std::string> argv = ::testing::internal::GetArgvs();
    ASSERT_FALSE(argv.empty());
    EXPECT_EQ(platform::programParameters(), Parameters(argv.begin() + 1, argv.end()));
}

}  // namespace
}  // namespace qor

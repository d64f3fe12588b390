#include <gtest/gtest.h>

#include "tools/sim/Options.h"

namespace qor::sim {
namespace {

using Outcome = ParsedOptions::Outcome;

TEST(SimOptions, ParsesAFullCommandLine) {
    const ParsedOptions parsed =
        parseOptions({"--link", "/tmp/qor-port", "--once", "--realtime", "--passthrough-idle",
                      "0.25", "--bootloader", "block", "--logger-version", "0x0107",
                      "--firmware-class", "0", "--no-answer", "3.2:2", "--late-byte", "1:3",
                      "--block-status=14:11:5", "--version-after-update", "515"});
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.error;
    const Config& c = parsed.config;
    EXPECT_EQ(c.linkPath, "/tmp/qor-port");
    EXPECT_TRUE(c.once);
    EXPECT_TRUE(c.realtime);
    EXPECT_EQ(c.passThroughIdle, std::chrono::milliseconds(250));
    EXPECT_EQ(c.bootloader, BootloaderKind::Block);
    EXPECT_EQ(c.identity.loggerVersion, 0x0107);
    EXPECT_EQ(c.identity.firmware.fwClass, 0);
    EXPECT_EQ(c.identity.versionAfterUpdate, 515);
    ASSERT_EQ(c.linkFaults.size(), 2u);
    EXPECT_EQ(c.linkFaults[0].kind, LinkFaultKind::NoAnswer);
    EXPECT_EQ(c.linkFaults[0].command.code, 3);
    EXPECT_EQ(c.linkFaults[0].command.selector, 2);
    EXPECT_EQ(c.linkFaults[0].attempt, 2u);
    EXPECT_TRUE(c.linkFaults[0].fromAttemptOn);
    EXPECT_EQ(c.linkFaults[1].parameter, 300u);  // the default delay
    ASSERT_EQ(c.blockFaults.size(), 1u);
    EXPECT_EQ(c.blockFaults[0].command, 14);
    EXPECT_EQ(c.blockFaults[0].parameter, 11u);
    EXPECT_EQ(c.blockFaults[0].attempt, 5u);
}

TEST(SimOptions, ParsesLineFaults) {
    const ParsedOptions parsed =
        parseOptions({"--line-damage", "1e-4", "--line-loss", "0.00005", "--line-seed", "42"});
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.error;
    EXPECT_DOUBLE_EQ(parsed.config.line.damage, 1e-4);
    EXPECT_DOUBLE_EQ(parsed.config.line.loss, 5e-5);
    EXPECT_EQ(parsed.config.line.seed, 42u);
}

TEST(SimOptions, RejectsWhatItDoesNotKnow) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--bogus"},
        {"extra"},
        {"--link"},
        {"--once=yes"},
        {"--logger-class", "65536"},
        {"--logger-class", "-1"},
        {"--logger-class", "12abc"},
        {"--bootloader", "xmodem"},
        {"--passthrough-idle", "1.2345"},
        {"--passthrough-idle", "fast"},
        {"--no-answer", "4"},
        {"--no-answer", "3.3"},
        {"--no-answer", "1.0"},
        {"--no-answer", "1:0"},
        {"--wrong-crc", "1"},
        {"--late-byte", "1:1:2:3"},
        {"--dfu-refuse-init", "14"},
        {"--block-status", "11:11"},
        {"--block-bad-crc", "13:1:1"},
        {"--report-values", "1,2,3,4"},
        {"--report-values", "1,2,3,4,256"},
        {"--report-frame", "7"},
        {"--line-damage", "1.5"},
        {"--line-damage", "-0.1"},
        {"--line-loss", "nan"},
        {"--line-loss", "1e-4x"},
        {"--line-seed", "-3"},
    };
    for (const auto& args : wrong) {
        EXPECT_EQ(parseOptions(args).outcome, Outcome::Error) << ::testing::PrintToString(args);
    }
}

TEST(SimOptions, HelpDocumentsEveryOption) {
    EXPECT_EQ(parseOptions({"--once", "--help"}).outcome, Outcome::Help);
    for (const std::string& name : optionNames()) {
        EXPECT_NE(helpText().find("  " + name + " "), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace qor::sim

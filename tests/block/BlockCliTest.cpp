// A kind-4 update end to end: the headless program (a test build whose catalogue holds a kind-4
// image) against the simulated logger with the block bootloader behind it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/SimProcess.h"

namespace qor {
namespace {

TEST(BlockBootloaderCli, Kind4UpdateEndsWithTheSuccessLine) {
    sim::Config config;
    config.bootloader = sim::BootloaderKind::Block;
    test::RunningSim logger(config);
    const test::ProgramOutcome o =
        test::runProgram(QOR_CLI_KIND4_PATH, "--port " + logger.path() + " --yes");
    logger.transcript();

    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_NE(o.out.find(" -> CL26156 PF18 PR35 V1 B4 [QOR-BL]\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(" -> Update BLE module G2 V2.05 succesfully completed.\n"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(logger.sim().moduleFirmware().version, 0x0205);
}

}  // namespace
}  // namespace qor

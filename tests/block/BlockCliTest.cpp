// A kind-4 update end to end: the headless program (a test build whose catalogue holds a kind-4
// image) against the simulated logger with the block bootloader behind it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tools/sim/Simulator.h"

namespace qor {
namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome runCli(const std::string& args) {
    const std::string command = std::string(QOR_CLI_KIND4_PATH) + " " + args + " </dev/null 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int raw = ::pclose(pipe);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

TEST(BlockBootloaderCli, Kind4UpdateEndsWithTheSuccessLine) {
    sim::Config config;
    config.bootloader = sim::BootloaderKind::Block;
    sim::Simulator logger(config);
    std::thread serving([&logger] { logger.run(); });
    const Outcome o = runCli("--port " + logger.slavePath() + " --yes");
    logger.stop();
    serving.join();

    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_NE(o.out.find(" -> CL26156 PF18 PR35 V1 B4 [QOR-BL]\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(" -> Update BLE module G2 V2.05 succesfully completed.\n"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(logger.moduleFirmware().version, 0x0205);
}

}  // namespace
}  // namespace qor

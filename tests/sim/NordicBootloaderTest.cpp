#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/sim/SimHarness.h"
#include "tools/dfu/Crc32.h"
#include "tools/dfu/InitPacket.h"
#include "tools/sim/Options.h"

namespace qor::sim::test {
namespace {

const Bytes kExecuted = {0x60, 0x04, 0x01};

// A host that has switched the logger to pass-through and talks to the module at 57600.
class NordicSession {
  public:
    explicit NordicSession(Config config)
        : sim(std::move(config)), host(sim.path(), 9600), module(host) {
        EXPECT_EQ(host.exchange(kCmd2).size(), 8u);
        host.reopen(57600);
    }

    Bytes firmwareAnswer() { return firmwareAfterRestart(sim, host); }

    RunningSim sim;
    HostPort host;
    NordicHost module;
};

TEST(NordicDfu, BuiltinPackageUpdatesTheModule) {
    const PackageFiles package = builtinPackage();
    NordicSession session(Config{});
    EXPECT_EQ(session.module.transfer(package.dat, package.bin), kExecuted);
    // fw_version 20500 is reported as version word 0x0205, under the module's update class.
    EXPECT_EQ(session.firmwareAnswer(), (Bytes{0x83, 0x2C, 0x66, 0x05, 0x02, 0x23, 0x00, 0xCC}));
}

TEST(NordicDfu, AlteredImageFailsTheHashAndKeepsTheOldFirmware) {
    PackageFiles package = builtinPackage();
    package.bin[40000] ^= 0x01;
    NordicSession session(Config{});
    EXPECT_EQ(session.module.transfer(package.dat, package.bin),
              (Bytes{0x60, 0x04, 0x0B, 0x0A}));  // extended error: hash failed
    EXPECT_EQ(session.firmwareAnswer(), (Bytes{0x83, 0x2C, 0x66, 0x01, 0x02, 0x23, 0x00, 0xC2}));
    EXPECT_EQ(session.sim.sim().moduleFirmware().version, 0x0201);
}

// The init packet without its signature: a Packet holding the plain Command.
Bytes unsignedPacket(const Bytes& signedPacket) {
    std::string error;
    const auto decoded = dfu::decodeInitPacket(signedPacket, error);
    EXPECT_TRUE(decoded) << error;
    Bytes packet = decoded->commandBytes;
    packet.insert(packet.begin(), {0x0A, static_cast<std::uint8_t>(packet.size())});
    return packet;
}

struct InitCase {
    const char* name;
    std::vector<std::string> args;
    std::function<Bytes(const Bytes&)> initPacket;
    Bytes response;
};

class InitPacketRefusal : public ::testing::TestWithParam<InitCase> {};

TEST_P(InitPacketRefusal, AnswersTheRightError) {
    const PackageFiles package = builtinPackage();
    NordicSession session(configFrom(GetParam().args));
    EXPECT_EQ(session.module.transfer(GetParam().initPacket(package.dat), package.bin),
              GetParam().response);
}

const auto asIs = [](const Bytes& dat) { return dat; };

INSTANTIATE_TEST_SUITE_P(
    Sim, InitPacketRefusal,
    ::testing::Values(
        InitCase{"AlteredSignature",
                 {},
                 [](const Bytes& dat) {
                     Bytes altered = dat;
                     altered.back() ^= 0x01;
                     return altered;
                 },
                 {0x60, 0x04, 0x0B, 0x0C}},
        InitCase{"Unsigned", {}, unsignedPacket, {0x60, 0x04, 0x0B, 0x08}},
        InitCase{"NotAnInitPacket",
                 {},
                 [](const Bytes&) { return Bytes(16, 0xFF); },
                 {0x60, 0x04, 0x05}},
        InitCase{"NewerFirmwareInstalled",
                 {"--firmware-version", "0x0206"},
                 asIs,
                 {0x60, 0x04, 0x0B, 0x05}},
        InitCase{"RefusedByFault", {"--dfu-refuse-init", "6"}, asIs, {0x60, 0x04, 0x0B, 0x06}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(NordicDfu, RefusesRequestsOutOfOrder) {
    NordicSession session(Config{});
    NordicHost& module = session.module;
    EXPECT_EQ(module.request({0x05}), (Bytes{0x60, 0x05, 0x02}));        // unknown opcode
    EXPECT_EQ(module.request({0x06, 0x03}), (Bytes{0x60, 0x06, 0x05}));  // no such object
    EXPECT_EQ(module.request({0x01, 0x02, 0x00, 0x10, 0, 0}),
              (Bytes{0x60, 0x01, 0x08}));  // no init
    EXPECT_EQ(module.request({0x01, 0x01, 0x01, 0x02, 0, 0}),
              (Bytes{0x60, 0x01, 0x04}));  // 513 > 512
    EXPECT_EQ(module.request({0x01, 0x01, 0x0A, 0, 0, 0}), (Bytes{0x60, 0x01, 0x01}));
    EXPECT_EQ(module.request({0x04}), (Bytes{0x60, 0x04, 0x08}));  // 0 of 10 bytes written
    EXPECT_EQ(module.request({0x09}), (Bytes{0x60, 0x09, 0x03}));  // ping without its id
    // A packet longer than the MTU allows is dropped without an answer.
    Bytes tooLong(70, 0x11);
    tooLong[0] = 0x08;
    module.send(tooLong);
    EXPECT_EQ(module.request({0x09, 0x01}), (Bytes{0x60, 0x09, 0x01, 0x01}));
}

TEST(NordicDfu, CorruptedByteShowsInTheChecksum) {
    const PackageFiles package = builtinPackage();
    NordicSession session(configFrom({"--dfu-corrupt-byte", "100"}));
    NordicHost& module = session.module;
    ASSERT_EQ(module.request({0x01, 0x01, static_cast<std::uint8_t>(package.dat.size()), 0, 0, 0}),
              (Bytes{0x60, 0x01, 0x01}));
    module.writeChunks(package.dat, 0, package.dat.size());
    ASSERT_EQ(module.request({0x04}), kExecuted);
    ASSERT_EQ(module.request({0x01, 0x02, 0x00, 0x10, 0x00, 0x00}), (Bytes{0x60, 0x01, 0x01}));
    module.writeChunks(package.bin, 0, 4096);
    const Bytes sum = module.request({0x03});
    EXPECT_EQ(readLe32(sum, 3), 4096u);
    EXPECT_NE(readLe32(sum, 7), dfu::crc32(std::span(package.bin).first(4096)));
}

TEST(NordicDfu, SilentAndStallingBootloaders) {
    {
        NordicSession session(configFrom({"--dfu-silent"}));
        EXPECT_TRUE(session.module.request({0x09, 0x01}, 300ms).empty());
    }
    {
        // The ping is 3 bytes on the wire; the bootloader hangs within the second one.
        NordicSession session(configFrom({"--dfu-stall-after", "4"}));
        EXPECT_EQ(session.module.request({0x09, 0x01}), (Bytes{0x60, 0x09, 0x01, 0x01}));
        EXPECT_TRUE(session.module.request({0x09, 0x02}, 300ms).empty());
    }
}

TEST(NordicDfu, PortVanishesMidTransfer) {
    NordicSession session(configFrom({"--vanish-after", "10"}));
    EXPECT_EQ(session.module.request({0x09, 0x01}), (Bytes{0x60, 0x09, 0x01, 0x01}));
    for (int i = 0; i < 4; ++i) {
        session.module.send({0x07});  // 2 bytes on the wire each
    }
    EXPECT_TRUE(session.sim.waitForEnd(2s));
    EXPECT_TRUE(session.sim.sim().vanished());
    EXPECT_FALSE(std::filesystem::exists(session.sim.path()));
}

}  // namespace
}  // namespace qor::sim::test

// A serial device that goes away while it is open (a USB adapter pulled, a pseudo-terminal whose
// other side closed): reads must fail at once, not find the line "readable" with nothing to read
// again and again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/SerialPort.h"

namespace qor::platform {
namespace {

using Clock = std::chrono::steady_clock;

class LineGoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        port_ = serialOpen(ptsname(master_), 57600);
        ASSERT_NE(port_, kInvalidSerialHandle);
        ::close(master_);
    }
    void TearDown() override { serialClose(port_); }

    int master_ = -1;
    SerialHandle port_ = kInvalidSerialHandle;
};

TEST_F(LineGoneTest, ReadFails) {
    std::uint8_t buffer[8];
    std::uint32_t received = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(serialRead(port_, buffer, sizeof buffer, received));
    EXPECT_EQ(received, 0u);
    // Sooner than the read's own time-out: the line is known to be gone.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(LineGoneTest, ReadSomeFails) {
    std::uint8_t buffer[64];
    std::uint32_t received = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(serialReadSome(port_, buffer, sizeof buffer, 1000, received));
    EXPECT_EQ(received, 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
}

TEST_F(LineGoneTest, WriteFails) {
    const std::uint8_t frame[8] = {0x81, 0, 0, 0, 0, 0, 0, 0xAA};
    std::uint32_t written = 0;
    EXPECT_FALSE(serialWrite(port_, frame, sizeof frame, written));
}

}  // namespace
}  // namespace qor::platform

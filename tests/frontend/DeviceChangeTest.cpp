// Which device-change broadcasts count as a serial port arriving or leaving.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/DeviceChange.h"

namespace qor::platform {
namespace {

// DEV_BROADCAST_HDR as the system lays it out.
struct BroadcastHeader {
    std::uint32_t size;
    std::uint32_t deviceType;
    std::uint32_t reserved;
};

TEST(DeviceChange, OnlyArrivalAndRemovalOfPorts) {
    constexpr std::uint32_t volume = 2;
    constexpr std::uint32_t deviceInterface = 5;
    constexpr std::uintptr_t queryRemove = 0x8001;
    constexpr std::uintptr_t removePending = 0x8003;
    struct Case {
        std::uintptr_t eventType;
        std::uint32_t deviceType;
        bool portChange;
    };
    const Case cases[] = {
        {kDbtDeviceArrival, kDbtDevtypPort, true},
        {kDbtDeviceRemoveComplete, kDbtDevtypPort, true},
        {kDbtDeviceArrival, volume, false},
        {kDbtDeviceRemoveComplete, deviceInterface, false},
        {queryRemove, kDbtDevtypPort, false},
        {removePending, kDbtDevtypPort, false},
    };
    for (const Case& c : cases) {
        const BroadcastHeader header{sizeof(BroadcastHeader), c.deviceType, 0};
        EXPECT_EQ(isPortChange(c.eventType, &header), c.portChange)
            << std::hex << c.eventType << " " << c.deviceType;
    }
}

TEST(DeviceChange, HeaderReadOnlyForArrivalAndRemoval) {
    // A configuration change (0x0018) carries no header: a null second parameter is not read.
    EXPECT_FALSE(isPortChange(0x0018, nullptr));
    EXPECT_FALSE(isPortChange(kDbtDeviceArrival, nullptr));
}

}  // namespace
}  // namespace qor::platform

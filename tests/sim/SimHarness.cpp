#include "tests/sim/SimHarness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/Package.h"
#include "tools/sim/Options.h"

namespace qor::sim::test {

RunningSim::RunningSim(Config config)
    : sim_(std::make_unique<Simulator>(std::move(config), &transcript_)), thread_([this] {
          sim_->run();
          ended_.store(true);
      }) {}

RunningSim::~RunningSim() {
    const std::string transcript = finish();
    if (::testing::Test::HasFailure()) {
        std::cerr << "simulator transcript:\n" << transcript;
    }
}

std::string RunningSim::finish() {
    sim_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    return transcript_.str();
}

bool RunningSim::waitForEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ended_.load()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

HostPort::HostPort(const std::string& path, int baud) : path_(path) {
    reopen(baud);
}

HostPort::~HostPort() {
    close();
}

void HostPort::reopen(int baud) {
    close();
    handle_ = platform::serialOpen(path_, baud);
}

void HostPort::close() {
    platform::serialClose(handle_);
    handle_ = platform::kInvalidSerialHandle;
}

void HostPort::write(const Bytes& bytes) {
    std::uint32_t written = 0;
    ASSERT_TRUE(platform::serialWrite(handle_, bytes.data(),
                                      static_cast<std::uint32_t>(bytes.size()), written));
    ASSERT_EQ(written, bytes.size());
}

Bytes HostPort::read(std::size_t n, std::chrono::milliseconds timeout) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::uint8_t buffer[4096];
        std::uint32_t got = 0;
        const auto want = static_cast<std::uint32_t>(std::min(n - out.size(), sizeof buffer));
        if (!platform::serialReadSome(handle_, buffer, want,
                                      static_cast<std::uint32_t>(left.count()), got)) {
            break;
        }
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

Bytes HostPort::exchange(const Bytes& frame, std::chrono::milliseconds timeout) {
    platform::serialPurge(handle_);
    write(frame);
    return read(8, timeout);
}

Bytes NordicHost::request(const Bytes& payload, std::chrono::milliseconds timeout) {
    send(payload);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes packet;
    while (!decoder_.next(packet)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return {};
        }
        decoder_.feed(port_.read(1, left));
    }
    return packet;
}

void NordicHost::send(const Bytes& payload) {
    port_.write(dfu::slipEncode(payload));
}

void NordicHost::writeChunks(const Bytes& data, std::size_t from, std::size_t to) {
    constexpr std::size_t kChunk = 64;
    for (std::size_t at = from; at < to; at += kChunk) {
        Bytes write{0x08};
        write.insert(write.end(), data.begin() + static_cast<long>(at),
                     data.begin() + static_cast<long>(std::min(at + kChunk, to)));
        send(write);
    }
}

void NordicHost::sendObject(const Bytes& data, std::size_t offset, std::uint32_t crcBefore) {
    const std::size_t end = offset + std::min<std::size_t>(data.size() - offset, 4096);
    writeChunks(data, offset, end);
    const Bytes sum = request({0x03});
    ASSERT_EQ(sum.size(), 11u);
    EXPECT_EQ(readLe32(sum, 3), end);
    EXPECT_EQ(readLe32(sum, 7),
              dfu::crc32(std::span(data).subspan(offset, end - offset), crcBefore));
}

Bytes NordicHost::transfer(const Bytes& initPacket, const Bytes& image) {
    EXPECT_EQ(request({0x09, 0x2A}), (Bytes{0x60, 0x09, 0x01, 0x2A}));
    EXPECT_EQ(request({0x02, 0x00, 0x00}), (Bytes{0x60, 0x02, 0x01}));
    EXPECT_EQ(request({0x07}), (Bytes{0x60, 0x07, 0x01, 131, 0}));

    const Bytes select = request({0x06, 0x01});
    EXPECT_EQ(select.size(), 15u);
    EXPECT_EQ(readLe32(select, 3), 512u);
    Bytes create{0x01, 0x01};
    const Bytes size = le32(static_cast<std::uint32_t>(initPacket.size()));
    create.insert(create.end(), size.begin(), size.end());
    EXPECT_EQ(request(create), (Bytes{0x60, 0x01, 0x01}));
    sendObject(initPacket, 0, 0);
    const Bytes initExecuted = request({0x04});
    if (initExecuted != Bytes{0x60, 0x04, 0x01}) {
        return initExecuted;
    }

    const Bytes selectData = request({0x06, 0x02});
    EXPECT_EQ(selectData.size(), 15u);
    EXPECT_EQ(readLe32(selectData, 3), 4096u);
    Bytes executed;
    std::uint32_t crc = 0;
    for (std::size_t offset = 0; offset < image.size(); offset += 4096) {
        const auto objectSize =
            static_cast<std::uint32_t>(std::min<std::size_t>(4096, image.size() - offset));
        Bytes createData{0x01, 0x02};
        const Bytes objectBytes = le32(objectSize);
        createData.insert(createData.end(), objectBytes.begin(), objectBytes.end());
        EXPECT_EQ(request(createData), (Bytes{0x60, 0x01, 0x01}));
        sendObject(image, offset, crc);
        crc = dfu::crc32(std::span(image).subspan(offset, objectSize), crc);
        executed = request({0x04});
        if (executed != Bytes{0x60, 0x04, 0x01}) {
            return executed;
        }
    }
    return executed;
}

Config configFrom(const std::vector<std::string>& args) {
    ParsedOptions parsed = parseOptions(args);
    EXPECT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.error;
    return parsed.config;
}

Bytes firmwareAfterRestart(RunningSim& sim, HostPort& host) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (sim.sim().passThroughSessionsEnded() == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return {};
        }
        std::this_thread::sleep_for(5ms);
    }
    host.reopen(9600);
    return host.exchange(kCmd3Firmware);
}

Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::uint32_t readLe32(const Bytes& bytes, std::size_t at) {
    if (bytes.size() < at + 4) {
        return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

PackageFiles builtinPackage() {
    std::string error;
    const auto package =
        dfu::readPackageFile(QOR_SOURCE_DIR "/firmware/builtin-package.zip", error);
    if (!package || package->images.size() != 1) {
        throw std::runtime_error("cannot read the built-in package: " + error);
    }
    return {package->images[0].bin, package->images[0].dat};
}

}  // namespace qor::sim::test

// Runs the simulator on a thread and plays the host on the slave side through the program's
// own serial layer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "tools/dfu/Slip.h"
#include "tools/sim/Simulator.h"

namespace qor::sim::test {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class RunningSim {
  public:
    explicit RunningSim(Config config);
    ~RunningSim();

    Simulator& sim() { return *sim_; }
    const std::string& path() const { return sim_->slavePath(); }
    // Stops the simulator and returns its transcript.
    std::string finish();
    // Waits until run() returned by itself (--once, vanish); false after the timeout.
    bool waitForEnd(std::chrono::milliseconds timeout);

  private:
    std::ostringstream transcript_;
    std::unique_ptr<Simulator> sim_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
};

// The host's side of the line.
class HostPort {
  public:
    HostPort(const std::string& path, int baud);
    ~HostPort();

    bool isOpen() const { return handle_ != platform::kInvalidSerialHandle; }
    void reopen(int baud);
    void close();
    void write(const Bytes& bytes);
    // Up to n bytes, returning early once n arrived or after the timeout.
    Bytes read(std::size_t n, std::chrono::milliseconds timeout);
    // One command frame and its 8-byte answer (empty when none came in time).
    Bytes exchange(const Bytes& frame, std::chrono::milliseconds timeout = 300ms);

  private:
    std::string path_;
    platform::SerialHandle handle_ = platform::kInvalidSerialHandle;
};

// Speaks SLIP-framed DFU requests over a HostPort.
class NordicHost {
  public:
    explicit NordicHost(HostPort& port) : port_(port), decoder_(4096) {}

    // Sends a request and returns the response packet (empty when none came in time).
    Bytes request(const Bytes& payload, std::chrono::milliseconds timeout = 2000ms);
    // Sends a request that gets no response.
    void send(const Bytes& payload);

    // Sends an init packet and an image as a DFU host does; returns the response to the last
    // execute. Intermediate responses are checked with gtest expectations.
    Bytes transfer(const Bytes& initPacket, const Bytes& image);

    // Write requests for data[from, to) in chunks of 64 bytes, the most an MTU of 131 allows.
    void writeChunks(const Bytes& data, std::size_t from, std::size_t to);

  private:
    void sendObject(const Bytes& data, std::size_t offset, std::uint32_t crcBefore);

    HostPort& port_;
    dfu::SlipDecoder decoder_;
};

// Command frames of the logger link.
inline const Bytes kCmd1 = {0x81, 0, 0, 0, 0, 0, 0, 0xAA};
inline const Bytes kCmd2 = {0x82, 0x30, 0, 0, 0, 0, 0, 0x00};
inline const Bytes kCmd3Hardware = {0x83, 0x30, 2, 0, 0, 0, 0, 0xBE};
inline const Bytes kCmd3Firmware = {0x83, 0x30, 0, 0, 0, 0, 0, 0x3D};
inline const Bytes kCmd3Platform = {0x83, 0x30, 1, 0, 0, 0, 0, 0xF0};

// A simulator configuration from command-line arguments (a failed parse fails the test).
Config configFrom(const std::vector<std::string>& args);

// Once the module has restarted after a transfer: the host reopens at 9600 and asks for the
// module's firmware (command 3, selector 0). Empty when the module did not restart in time.
Bytes firmwareAfterRestart(RunningSim& sim, HostPort& host);

// Little-endian helpers for DFU payloads.
Bytes le32(std::uint32_t v);
std::uint32_t readLe32(const Bytes& bytes, std::size_t at);

// The built-in package's application image and init packet.
struct PackageFiles {
    Bytes bin;
    Bytes dat;
};
PackageFiles builtinPackage();

}  // namespace qor::sim::test

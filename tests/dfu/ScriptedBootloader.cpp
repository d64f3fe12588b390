#include "tests/dfu/ScriptedBootloader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/InitPacket.h"

namespace qor::test {
namespace {

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::uint32_t getU32(const std::vector<std::uint8_t>& p, std::size_t at) {
    return std::uint32_t{p[at]} | (std::uint32_t{p[at + 1]} << 8) |
           (std::uint32_t{p[at + 2]} << 16) | (std::uint32_t{p[at + 3]} << 24);
}

// The image size an init packet announces (0 when it does not decode).
std::uint32_t announcedSize(const std::vector<std::uint8_t>& dat) {
    std::string error;
    const auto packet = dfu::decodeInitPacket(dat, error);
    if (!packet) {
        return 0;
    }
    const auto& c = packet->init;
    return c.app_size.value_or(0) + c.sd_size.value_or(0) + c.bl_size.value_or(0);
}

}  // namespace

ScriptedBootloader::ScriptedBootloader(PtyPeer& peer, BootloaderScript script)
    : peer_(peer), script_(std::move(script)) {
    data_ = script_.heldData;
    executed_ = script_.heldExecuted;
    command_ = script_.heldInitPacket;
    commandSize_ = static_cast<std::uint32_t>(command_.size());
    commandValid_ = !command_.empty();
    expectedSize_ = announcedSize(command_);
    // An object in progress has room up to its full size.
    objectEnd_ = data_.size() > executed_ ? executed_ + script_.dataMaxSize
                                          : static_cast<std::uint32_t>(data_.size());
    lastInitPacket_ = command_;
    thread_ = std::thread([this] { run(); });
}

ScriptedBootloader::~ScriptedBootloader() {
    stop_ = true;
    thread_.join();
}

ScriptedBootloader::Record ScriptedBootloader::record() const {
    std::lock_guard lock(mutex_);
    return record_;
}

void ScriptedBootloader::run() {
    std::vector<std::uint8_t> packet;
    while (!stop_) {
        pollfd p{peer_.masterFd(), POLLIN, 0};
        if (poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) {
            if (p.revents & POLLHUP) {
                usleep(2000);  // nobody has the line open yet
            }
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(peer_.masterFd(), buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            record_.bytesIn += static_cast<std::size_t>(n);
        }
        decoder_.feed(std::span(buffer, static_cast<std::size_t>(n)));
        while (decoder_.next(packet)) {
            handle(packet);
        }
    }
}

void ScriptedBootloader::respond(std::uint8_t op, std::uint8_t result,
                                 const std::vector<std::uint8_t>& payload) {
    if (script_.silent || stalled_ || std::chrono::steady_clock::now() < silentUntil_) {
        return;
    }
    std::vector<std::uint8_t> response{0x60, op, result};
    response.insert(response.end(), payload.begin(), payload.end());
    peer_.write(dfu::slipEncode(response));
}

void ScriptedBootloader::handle(const std::vector<std::uint8_t>& request) {
    const std::uint8_t op = request[0];
    std::lock_guard lock(mutex_);
    if (std::chrono::steady_clock::now() < silentUntil_) {
        return;  // restarting
    }
    std::uint32_t execute = 0;
    if (op == 0x04) {
        execute = ++executesSent_;
        if (script_.loseExecuteRequest == execute) {
            return;
        }
        ++record_.executeRequests;
    }
    const bool loseResponse = execute > 0 && script_.loseExecuteResponse == execute;
    const auto answer = [&](std::uint8_t result, const std::vector<std::uint8_t>& payload) {
        if (execute > 0 && script_.damageExecuteResponse == execute) {
            peer_.write(dfu::slipEncode(std::vector<std::uint8_t>{0xE0, op, result}));
        } else if (!loseResponse) {
            respond(op, result, payload);
        }
    };
    record_.opcodes.push_back(op);
    std::vector<std::uint8_t> payload;
    switch (op) {
        case 0x09:  // ping
            respond(op, 0x01, {request.size() > 1 ? request[1] : std::uint8_t{0}});
            return;
        case 0x02:  // PRN
            record_.prn = static_cast<std::uint16_t>(request[1] | (request[2] << 8));
            respond(op, 0x01, {});
            return;
        case 0x07:  // MTU
            respond(op, 0x01,
                    {static_cast<std::uint8_t>(script_.mtu),
                     static_cast<std::uint8_t>(script_.mtu >> 8)});
            return;
        case 0x06: {  // select
            if (++selects_ == script_.mergeSelect) {
                respond(op, 0x03, {});
                return;
            }
            currentType_ = request[1];
            const bool command = currentType_ == 1;
            putU32(payload, command ? script_.commandMaxSize : script_.dataMaxSize);
            putU32(payload, static_cast<std::uint32_t>(command ? command_.size() : data_.size()));
            putU32(payload, dfu::crc32(command ? command_ : data_));
            respond(op, 0x01, payload);
            return;
        }
        case 0x01: {  // create
            currentType_ = request[1];
            const std::uint32_t size = getU32(request, 2);
            if (currentType_ == 1) {
                command_.clear();
                commandSize_ = size;
                commandValid_ = false;
            } else if (!commandValid_) {
                respond(op, 0x08, {});  // no init packet executed yet
                return;
            } else {
                data_.resize(executed_);  // an object never executed is dropped
                objectEnd_ = executed_ + size;
            }
            respond(op, 0x01, {});
            return;
        }
        case 0x08: {  // write: no response
            const std::size_t n = request.size() - 1;
            record_.maxWriteData = std::max(record_.maxWriteData, n);
            auto& target = currentType_ == 1 ? command_ : data_;
            const std::size_t limit = currentType_ == 1 ? commandSize_ : objectEnd_;
            if (currentType_ != 1) {
                record_.dataBytesWritten += n;
            }
            if (target.size() + n <= limit) {
                target.insert(target.end(), request.begin() + 1, request.end());
            }
            return;
        }
        case 0x03: {  // checksum
            const auto& target = currentType_ == 1 ? command_ : data_;
            if (currentType_ == 2 && ++dataChecksums_ == script_.strayBeforeChecksum) {
                respond(0x88, 0x02, {});  // a write whose opcode was damaged
                respond(0x03, 0x03, {});  // a write split into a checksum with parameters
                peer_.write({0x60, 0x03, 0xDB, 0x17, 0x55, 0xC0});  // a broken escape
            }
            std::uint32_t crc = dfu::crc32(target);
            if (currentType_ == 2 && script_.corruptChecksums > 0) {
                --script_.corruptChecksums;
                crc ^= script_.corruptionMask;
            }
            putU32(payload, static_cast<std::uint32_t>(target.size()));
            putU32(payload, crc);
            respond(op, 0x01, payload);
            return;
        }
        case 0x04:  // execute
            if (currentType_ == 1) {
                if (script_.refuseInitWith) {
                    answer(0x0B, {*script_.refuseInitWith});
                    return;
                }
                commandValid_ = command_.size() == commandSize_;
                expectedSize_ = announcedSize(command_);
                if (!commandValid_ || expectedSize_ == 0) {
                    answer(0x0B, {0x02});  // wrong command format
                    return;
                }
                // Another init packet starts the firmware afresh; the same one resumes it.
                if (command_ != lastInitPacket_) {
                    data_.clear();
                    executed_ = 0;
                    objectEnd_ = 0;
                    lastInitPacket_ = command_;
                }
                answer(0x01, {});
                return;
            }
            executed_ = static_cast<std::uint32_t>(data_.size());
            ++record_.objectsExecuted;
            answer(0x01, {});
            activateIfComplete();
            if (script_.stallAfterObjects &&
                record_.objectsExecuted >= *script_.stallAfterObjects) {
                stalled_ = true;
            }
            return;
        default:
            respond(op, 0x02, {});
            return;
    }
}

void ScriptedBootloader::activateIfComplete() {
    if (!commandValid_ || executed_ != expectedSize_) {
        return;
    }
    // The new image takes over; a restarted bootloader holds nothing.
    record_.activatedImages.push_back(data_);
    silentUntil_ = std::chrono::steady_clock::now() + script_.restartSilence;
    data_.clear();
    command_.clear();
    lastInitPacket_.clear();
    commandValid_ = false;
    executed_ = 0;
    objectEnd_ = 0;
}

}  // namespace qor::test

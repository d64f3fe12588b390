#include "tools/sim/NordicBootloader.h"

#include <algorithm>
#include <string>

#include "tools/dfu/Crc32.h"
#include "tools/dfu/InitPacket.h"
#include "tools/dfu/Sha256.h"
#include "tools/sim/Transcript.h"

namespace qor::sim {
namespace {

// Request opcodes.
enum : std::uint8_t {
    kOpProtocolVersion = 0x00,
    kOpCreate = 0x01,
    kOpSetPrn = 0x02,
    kOpChecksum = 0x03,
    kOpExecute = 0x04,
    kOpSelect = 0x06,
    kOpMtu = 0x07,
    kOpWrite = 0x08,
    kOpPing = 0x09,
    kOpHardwareVersion = 0x0A,
    kOpFirmwareVersion = 0x0B,
    kOpAbort = 0x0C,
    kOpResponse = 0x60,
};

// Result codes.
enum : std::uint8_t {
    kResSuccess = 0x01,
    kResOpNotSupported = 0x02,
    kResInvalidParameter = 0x03,
    kResInsufficientResources = 0x04,
    kResInvalidObject = 0x05,
    kResNotPermitted = 0x08,
    kResExtError = 0x0B,
};

// Extended error codes.
enum : std::uint8_t {
    kExtInitCommandInvalid = 0x04,
    kExtFwVersionFailure = 0x05,
    kExtHwVersionFailure = 0x06,
    kExtSdVersionFailure = 0x07,
    kExtSignatureMissing = 0x08,
    kExtWrongHashType = 0x09,
    kExtHashFailed = 0x0A,
    kExtWrongSignatureType = 0x0B,
    kExtVerificationFailed = 0x0C,
    kExtInsufficientSpace = 0x0D,
};

// validateInitPacket's way of telling a plain result code from an extended error.
constexpr std::uint32_t kPlainResult = 0x100;

constexpr std::uint16_t kSdReqAnyVersion = 0xFFFE;
// The largest request the bootloader's receive buffer holds: what an MTU of 131 allows.
constexpr std::size_t kMaxRequestSize = (kNordicMtu - 1) / 2;
// Time from reset to a running application, in real-time mode.
constexpr Micros kBootTime{300'000};

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::uint32_t le32(std::span<const std::uint8_t> p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool sdReqSatisfied(const std::vector<std::uint32_t>& sdReq) {
    if (sdReq.empty()) {
        return false;
    }
    auto begin = sdReq.begin();
    if (*begin == kSdReqAnyVersion) {
        if (sdReq.size() == 1) {
            return true;
        }
        ++begin;
    }
    return std::find(begin, sdReq.end(), kNordicSoftDeviceId) != sdReq.end();
}

}  // namespace

NordicBootloader::NordicBootloader(const Identity& identity, const NordicFaults& faults,
                                   const SignatureVerifier& verifier, DeviceContext& ctx)
    : identity_(identity),
      faults_(faults),
      verifier_(verifier),
      ctx_(ctx),
      slip_(kMaxRequestSize) {}

void NordicBootloader::reset() {
    slip_.reset();
    droppedSeen_ = slip_.droppedPackets();
    stalled_ = false;
    current_ = ObjectType::Command;
    prn_ = 0;
    prnCount_ = 0;
    initValid_ = false;
    firmwareSize_ = 0;
    // Progress of the data objects lives in RAM only; the init packet is kept.
    objectSize_ = offset_ = crc_ = offsetLast_ = crcLast_ = 0;
    image_.clear();
    flashBusyUntil_ = {};
}

void NordicBootloader::onBytes(std::span<const std::uint8_t> bytes) {
    if (faults_.silent || stalled_) {
        bytesReceived_ += bytes.size();
        return;
    }
    if (faults_.stallAfterBytes && bytesReceived_ < *faults_.stallAfterBytes &&
        bytesReceived_ + bytes.size() >= *faults_.stallAfterBytes) {
        const std::size_t before =
            static_cast<std::size_t>(*faults_.stallAfterBytes - bytesReceived_);
        bytesReceived_ += bytes.size();
        slip_.feed(bytes.first(before));
        stalled_ = true;
    } else {
        bytesReceived_ += bytes.size();
        slip_.feed(bytes);
    }
    Bytes request;
    while (slip_.next(request)) {
        handle(request);
    }
    if (slip_.droppedPackets() != droppedSeen_) {
        droppedSeen_ = slip_.droppedPackets();
        ctx_.note("nordic: malformed or oversized packet dropped");
    }
    if (stalled_) {
        ctx_.note("fault: bootloader stalls");
    }
}

void NordicBootloader::respond(std::uint8_t opcode, std::uint8_t result, const Bytes& payload,
                               Micros after) {
    Bytes response{kOpResponse, opcode, result};
    response.insert(response.end(), payload.begin(), payload.end());
    ctx_.send(dfu::slipEncode(response), after);
}

void NordicBootloader::respondExtended(std::uint8_t opcode, std::uint8_t extendedError,
                                       Micros after) {
    ctx_.note("nordic: extended error " + hexBytes(std::span(&extendedError, 1)));
    respond(opcode, kResExtError, {extendedError}, after);
}

Micros NordicBootloader::flashWait() const {
    if (!ctx_.realtime() || flashBusyUntil_ <= ctx_.now()) {
        return Micros{0};
    }
    return std::chrono::duration_cast<Micros>(flashBusyUntil_ - ctx_.now());
}

void NordicBootloader::handle(const Bytes& request) {
    const std::uint8_t op = request[0];
    const std::span<const std::uint8_t> payload = std::span(request).subspan(1);
    // A request whose parameters have the wrong size is refused rather than guessed at.
    const auto sized = [&](std::size_t n) {
        if (payload.size() == n) {
            return true;
        }
        respond(op, kResInvalidParameter);
        return false;
    };
    switch (op) {
        case kOpProtocolVersion:
            if (sized(0)) {
                respond(op, kResSuccess, {1});
            }
            break;
        case kOpCreate:
            if (sized(5)) {
                create(payload[0], le32(payload.subspan(1)));
            }
            break;
        case kOpSetPrn:
            if (sized(2)) {
                prn_ = static_cast<std::uint16_t>(payload[0] | payload[1] << 8);
                prnCount_ = prn_;
                respond(op, kResSuccess);
            }
            break;
        case kOpChecksum:
            if (sized(0)) {
                checksum();
            }
            break;
        case kOpExecute:
            if (sized(0)) {
                execute();
            }
            break;
        case kOpSelect:
            if (sized(1)) {
                select(payload[0]);
            }
            break;
        case kOpMtu:
            if (sized(0)) {
                respond(op, kResSuccess,
                        {static_cast<std::uint8_t>(kNordicMtu & 0xFF),
                         static_cast<std::uint8_t>(kNordicMtu >> 8)});
            }
            break;
        case kOpWrite:
            write(payload);
            break;
        case kOpPing:
            if (sized(1)) {
                respond(op, kResSuccess, {payload[0]});
            }
            break;
        case kOpHardwareVersion:
            if (sized(0)) {
                Bytes info;
                for (const std::uint32_t v : {0x52832u, 0x41414530u, 0x80000u, 0x10000u, 0x1000u}) {
                    putLe32(info, v);
                }
                respond(op, kResSuccess, info);
            }
            break;
        case kOpFirmwareVersion:
            if (sized(1)) {
                firmwareVersion(payload[0]);
            }
            break;
        case kOpAbort:
            if (sized(0)) {
                respond(op, kResSuccess);
                ctx_.note("nordic: aborted, module restarts");
                reset();
                ctx_.restartModule(std::nullopt, ctx_.realtime() ? kBootTime : Micros{0});
            }
            break;
        default:
            respond(op, kResOpNotSupported);
            break;
    }
}

void NordicBootloader::select(std::uint8_t type) {
    Bytes info;
    switch (type) {
        case 1:
            current_ = ObjectType::Command;
            putLe32(info, kCommandObjectMaxSize);
            putLe32(info, command_.offset);
            putLe32(info, command_.crc);
            respond(kOpSelect, kResSuccess, info);
            break;
        case 2:
            current_ = ObjectType::Data;
            putLe32(info, kDataObjectMaxSize);
            putLe32(info, offset_);
            putLe32(info, crc_);
            respond(kOpSelect, kResSuccess, info, flashWait());
            break;
        default:
            current_ = ObjectType::Invalid;
            respond(kOpSelect, kResInvalidObject);
            break;
    }
}

void NordicBootloader::create(std::uint8_t type, std::uint32_t size) {
    if (type == 1) {
        current_ = ObjectType::Command;
        if (size == 0) {
            respond(kOpCreate, kResInvalidParameter);
            return;
        }
        if (size > kCommandObjectMaxSize) {
            respond(kOpCreate, kResInsufficientResources);
            return;
        }
        // A new init packet starts the update over.
        command_ = {size, 0, 0, {}};
        initValid_ = false;
        objectSize_ = offset_ = crc_ = offsetLast_ = crcLast_ = 0;
        image_.clear();
        respond(kOpCreate, kResSuccess);
        return;
    }
    if (type != 2) {
        current_ = ObjectType::Invalid;
        respond(kOpCreate, kResInvalidObject);
        return;
    }
    current_ = ObjectType::Data;
    if (!initValid_) {
        respond(kOpCreate, kResNotPermitted);
        return;
    }
    // Objects are whole flash pages, but for the last one.
    if (size == 0 || ((size % kFlashPageSize) != 0 && offsetLast_ + size != firmwareSize_)) {
        respond(kOpCreate, kResInvalidParameter);
        return;
    }
    if (size > kDataObjectMaxSize) {
        respond(kOpCreate, kResInsufficientResources);
        return;
    }
    if (offsetLast_ + size > firmwareSize_) {
        respond(kOpCreate, kResNotPermitted);
        return;
    }
    objectSize_ = size;
    offset_ = offsetLast_;
    crc_ = crcLast_;
    image_.resize(offsetLast_);
    if (ctx_.realtime()) {
        flashBusyUntil_ = std::max(flashBusyUntil_, ctx_.now()) + flashEraseTime(size);
    }
    respond(kOpCreate, kResSuccess, {}, flashWait());
}

void NordicBootloader::write(std::span<const std::uint8_t> data) {
    if (current_ == ObjectType::Command) {
        if (command_.offset + data.size() > command_.size) {
            ctx_.note("nordic: write beyond the command object ignored");
        } else {
            command_.bytes.insert(command_.bytes.end(), data.begin(), data.end());
            command_.offset += static_cast<std::uint32_t>(data.size());
            command_.crc = dfu::crc32(data, command_.crc);
        }
    } else if (current_ == ObjectType::Data) {
        if (!initValid_) {
            ctx_.note("nordic: data write without a valid init packet ignored");
        } else if (offset_ - offsetLast_ + data.size() > objectSize_) {
            ctx_.note("nordic: write beyond the data object ignored");
        } else {
            Bytes stored(data.begin(), data.end());
            const std::uint32_t at = offset_;
            if (faults_.corruptImageByte && !corruptionDone_ && *faults_.corruptImageByte >= at &&
                *faults_.corruptImageByte < at + stored.size()) {
                stored[*faults_.corruptImageByte - at] ^= 0x5A;
                corruptionDone_ = true;
                ctx_.note("fault: image byte " + std::to_string(*faults_.corruptImageByte) +
                          " corrupted");
            }
            crc_ = dfu::crc32(stored, crc_);
            image_.insert(image_.end(), stored.begin(), stored.end());
            offset_ += static_cast<std::uint32_t>(stored.size());
            if (ctx_.realtime()) {
                flashBusyUntil_ =
                    std::max(flashBusyUntil_, ctx_.now()) + flashWriteTime(stored.size());
            }
        }
    } else {
        ctx_.note("nordic: write without a selected object ignored");
    }
    // Writes are not answered, except every prn_-th one with a checksum notification.
    if (prn_ != 0 && --prnCount_ == 0) {
        prnCount_ = prn_;
        checksum();
    }
}

void NordicBootloader::checksum() {
    Bytes info;
    switch (current_) {
        case ObjectType::Command:
            putLe32(info, command_.offset);
            putLe32(info, command_.crc);
            respond(kOpChecksum, kResSuccess, info);
            break;
        case ObjectType::Data:
            putLe32(info, offset_);
            putLe32(info, crc_);
            respond(kOpChecksum, kResSuccess, info, flashWait());
            break;
        case ObjectType::Invalid:
            respond(kOpChecksum, kResInvalidObject);
            break;
    }
}

void NordicBootloader::execute() {
    switch (current_) {
        case ObjectType::Command:
            executeCommand();
            break;
        case ObjectType::Data:
            executeData();
            break;
        case ObjectType::Invalid:
            respond(kOpExecute, kResInvalidObject);
            break;
    }
}

void NordicBootloader::executeCommand() {
    if (command_.offset != command_.size) {
        respond(kOpExecute, kResNotPermitted);
        return;
    }
    if (initValid_) {
        respond(kOpExecute, kResSuccess);
        return;
    }
    const std::uint32_t error = validateInitPacket();
    if (error == 0) {
        initValid_ = true;
        ctx_.note("nordic: init packet accepted");
        respond(kOpExecute, kResSuccess);
        return;
    }
    // A refused init packet is forgotten; the host has to send it again.
    command_ = {};
    if (error & kPlainResult) {
        ctx_.note("nordic: init packet refused");
        respond(kOpExecute, static_cast<std::uint8_t>(error & 0xFF));
    } else {
        respondExtended(kOpExecute, static_cast<std::uint8_t>(error));
    }
}

std::uint32_t NordicBootloader::validateInitPacket() {
    if (faults_.refuseInit) {
        ctx_.note("fault: init packet refused");
        return *faults_.refuseInit;
    }
    std::string why;
    const auto packet = dfu::decodeInitPacket(command_.bytes, why);
    if (!packet) {
        ctx_.note("nordic: init packet does not decode: " + why);
        return kPlainResult | kResInvalidObject;
    }
    if (!packet->isSigned) {
        return kExtSignatureMissing;
    }
    if (packet->signature_type != dfu::SignatureType::EcdsaP256Sha256) {
        return kExtWrongSignatureType;
    }
    if (!verifier_.verify(packet->commandBytes, packet->signature)) {
        return kExtVerificationFailed;
    }
    const dfu::InitCommand& init = packet->init;
    // This module takes application images only.
    if (init.type != dfu::FwType::Application) {
        return kExtInitCommandInvalid;
    }
    if (init.hash_type != dfu::HashType::Sha256 || init.hash.size() != 32) {
        return kExtWrongHashType;
    }
    if (!init.hw_version) {
        return kExtInitCommandInvalid;
    }
    if (*init.hw_version != kNordicHwVersion) {
        return kExtHwVersionFailure;
    }
    if (!sdReqSatisfied(init.sd_req)) {
        return kExtSdVersionFailure;
    }
    if (!init.fw_version) {
        return kExtInitCommandInvalid;
    }
    // No downgrade of the application.
    const ModuleFirmware& installed = identity_.firmware;
    const std::uint32_t installedVersion =
        installed.fwClass == 0 ? 0 : fwVersionOf(installed.version);
    if (*init.fw_version < installedVersion) {
        return kExtFwVersionFailure;
    }
    if (!init.app_size || *init.app_size == 0) {
        return kExtInitCommandInvalid;
    }
    if (*init.app_size > kApplicationAreaSize) {
        return kExtInsufficientSpace;
    }
    firmwareSize_ = *init.app_size;
    newFwVersion_ = *init.fw_version;
    hashLsbFirst_ = init.hash;
    return 0;
}

void NordicBootloader::executeData() {
    if (!initValid_ || offset_ - offsetLast_ != objectSize_) {
        respond(kOpExecute, kResNotPermitted);
        return;
    }
    objectSize_ = 0;
    offsetLast_ = offset_;
    crcLast_ = crc_;
    if (offset_ != firmwareSize_) {
        respond(kOpExecute, kResSuccess, {}, flashWait());
        return;
    }
    // The whole image is in: check it against the init packet, then switch to it.
    auto hash = dfu::sha256(image_);
    std::reverse(hash.begin(), hash.end());
    const bool intact =
        std::equal(hash.begin(), hash.end(), hashLsbFirst_.begin(), hashLsbFirst_.end());
    const Micros wait = flashWait();
    command_ = {};
    if (!intact) {
        respondExtended(kOpExecute, kExtHashFailed, wait);
        ctx_.note("nordic: image hash does not match, module restarts with its old firmware");
        reset();
        ctx_.restartModule(std::nullopt, ctx_.realtime() ? kBootTime : Micros{0});
        return;
    }
    respond(kOpExecute, kResSuccess, {}, wait);
    ModuleFirmware updated = identity_.firmware;
    updated.fwClass = identity_.classAfterUpdate.value_or(identity_.updateClass);
    updated.version = identity_.versionAfterUpdate.value_or(versionWordOf(newFwVersion_));
    ctx_.note("nordic: image accepted, module restarts into it");
    // Activation copies the image over the old application before it boots.
    const Micros activation =
        ctx_.realtime() ? flashEraseTime(image_.size()) + flashWriteTime(image_.size()) + kBootTime
                        : Micros{0};
    reset();
    ctx_.restartModule(updated, activation);
}

void NordicBootloader::firmwareVersion(std::uint8_t image) {
    Bytes info;
    switch (image) {
        case 0:  // the bootloader
            info.push_back(0x02);
            putLe32(info, 1);
            putLe32(info, 0x78000);
            putLe32(info, 0x6000);
            break;
        case 1:  // the SoftDevice
            info.push_back(0x00);
            putLe32(info, 6001001);
            putLe32(info, 0x1000);
            putLe32(info, 0x25000);
            break;
        case 2: {  // the application
            const ModuleFirmware& fw = identity_.firmware;
            info.push_back(0x01);
            putLe32(info, fw.fwClass == 0 ? 0 : fwVersionOf(fw.version));
            putLe32(info, 0x26000);
            putLe32(info, 0);
            break;
        }
        default:
            respond(kOpFirmwareVersion, kResInvalidParameter);
            return;
    }
    respond(kOpFirmwareVersion, kResSuccess, info);
}

}  // namespace qor::sim

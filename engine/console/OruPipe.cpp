#include "engine/console/OruPipe.h"

#include <algorithm>

namespace qor {

TOruPipe::TOruPipe(bool Inheritable) : TOruPipe(0, Inheritable) {}

TOruPipe::TOruPipe(std::uint32_t Size, bool Inheritable) {
    const TOruSecurityAttributes inheritable{nullptr, true};
    create(Size, Inheritable ? &inheritable : nullptr);
}

TOruPipe::TOruPipe(const TOruSecurityAttributes& Security) : TOruPipe(0, Security) {}

TOruPipe::TOruPipe(std::uint32_t Size, const TOruSecurityAttributes& Security) {
    create(Size, &Security);
}

TOruPipe::~TOruPipe() {
    platform::handleClose(fReadHandle);
    CloseWriteHandle();
}

void TOruPipe::create(std::uint32_t size, const TOruSecurityAttributes* security) {
    if (!platform::pipeCreate(size, security, fReadHandle, fWriteHandle)) {
        throw EInOutError("Can't create pipe: " + platform::errorText(platform::lastError()));
    }
}

std::uint32_t TOruPipe::AvailableDataSize() const {
    std::uint32_t available = 0;
    if (!platform::pipePeek(fReadHandle, available)) {
        throw EInOutError("Can't read pipe: peek attempt failed");
    }
    return available;
}

bool TOruPipe::ReadData(void* Buf, std::uint32_t BufSize, std::uint32_t& BytesRead) {
    BytesRead = 0;
    const std::uint32_t count = std::min(BufSize, AvailableDataSize());
    if (count == 0) {
        return false;
    }
    // A failed read shows only through the byte count.
    platform::pipeRead(fReadHandle, Buf, count, BytesRead);
    return BytesRead > 0;
}

std::vector<std::uint8_t> TOruPipe::ReadBytes(std::uint32_t Count) {
    const std::uint32_t available = AvailableDataSize();
    const std::uint32_t count = (Count == 0 || Count > available) ? available : Count;
    std::vector<std::uint8_t> bytes(count);
    if (count > 0) {
        std::uint32_t received = 0;
        platform::pipeRead(fReadHandle, bytes.data(), count, received);
        if (received < count) {
            throw EInOutError("Error reading pipe");
        }
    }
    return bytes;
}

std::int32_t TOruPipe::WriteData(const void* Buf, std::uint32_t BufSize) {
    if (fWriteHandle == 0) {
        throw EInOutError("Can't write pipe: handle closed");
    }
    std::uint32_t written = 0;
    if (!platform::pipeWrite(fWriteHandle, Buf, BufSize, written)) {
        throw EInOutError("Error writing pipe");
    }
    return static_cast<std::int32_t>(written);
}

void TOruPipe::WriteBytes(const std::vector<std::uint8_t>& Bytes) {
    WriteData(Bytes.data(), static_cast<std::uint32_t>(Bytes.size()));
}

void TOruPipe::CloseWriteHandle() {
    if (fWriteHandle != 0) {
        platform::handleClose(fWriteHandle);
        fWriteHandle = 0;
    }
}

}  // namespace qor

// An anonymous pipe whose reads never block: every read asks first how much is waiting.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace qor {

using TOruHandle = platform::NativeHandle;
using TOruSecurityAttributes = platform::SecurityAttributes;

// A pipe (or stream) operation failed; the message says which.
class EInOutError : public std::runtime_error {
  public:
    explicit EInOutError(const std::string& sMsg) : std::runtime_error(sMsg) {}
};

class TOruPipe {
  public:
    // Size 0: the system's default buffer size. Inheritable: both ends may be handed to a
    // child (the read end itself is kept from children).
    explicit TOruPipe(bool Inheritable);
    TOruPipe(std::uint32_t Size, bool Inheritable);
    explicit TOruPipe(const TOruSecurityAttributes& Security);
    TOruPipe(std::uint32_t Size, const TOruSecurityAttributes& Security);
    // Closes the read end, then the write end.
    ~TOruPipe();
    TOruPipe(const TOruPipe&) = delete;
    TOruPipe& operator=(const TOruPipe&) = delete;

    TOruHandle ReadHandle() const { return fReadHandle; }
    // 0 once closed.
    TOruHandle WriteHandle() const { return fWriteHandle; }

    // Bytes waiting, by peeking.
    std::uint32_t AvailableDataSize() const;
    // Reads min(BufSize, waiting) bytes; false with BytesRead 0 when nothing is waiting.
    bool ReadData(void* Buf, std::uint32_t BufSize, std::uint32_t& BytesRead);
    // Count 0: all that is waiting; otherwise Count bytes, or all waiting when fewer wait.
    std::vector<std::uint8_t> ReadBytes(std::uint32_t Count = 0);
    // Returns the number of bytes written.
    std::int32_t WriteData(const void* Buf, std::uint32_t BufSize);
    void WriteBytes(const std::vector<std::uint8_t>& Bytes);
    // Moves waiting bytes into the stream (Count 0 or more than waiting: all waiting).
    void CopyToStream(std::ostream& Stm, std::uint32_t Count = 0);
    // Writes Count bytes of the stream into the pipe (Count 0: up to the stream's end).
    void CopyFromStream(std::istream& Stm, std::uint32_t Count = 0);
    void CloseWriteHandle();

  private:
    void create(std::uint32_t size, const TOruSecurityAttributes* security);

    TOruHandle fReadHandle = 0;
    TOruHandle fWriteHandle = 0;
};

}  // namespace qor

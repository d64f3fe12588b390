// Serial port seam: the few calls the logger link needs, with the same meaning on every OS.
#pragma once

#include <cstdint>
#include <string>

namespace qor::platform {

// 32-bit port handle; all bits set means "not open".
using SerialHandle = std::uint32_t;
inline constexpr SerialHandle kInvalidSerialHandle = 0xFFFFFFFFu;

// Opens the named port exclusively (Windows: "COM3", opened as "\\.\COM3"; POSIX: a device
// path such as "/dev/ttyUSB0"), raw 8N1 at baudRate without flow control or translation,
// DTR raised and RTS low where the device has modem lines. Reads wait for at most
// 200 ms + 1 ms per requested byte. Returns kInvalidSerialHandle on any failure, leaving
// nothing open.
SerialHandle serialOpen(const std::string& name, std::int32_t baudRate);

// Clears a pending error condition of the port (Windows: ClearCommError).
bool serialClearError(SerialHandle handle);

// Discards everything queued in both directions (Windows: PurgeComm with 12).
bool serialPurge(SerialHandle handle);

// Writes count bytes; false when the call failed, otherwise `written` tells how many went out.
bool serialWrite(SerialHandle handle, const void* data, std::uint32_t count,
                 std::uint32_t& written);

// Reads up to count bytes, returning when all arrived or after 200 ms + 1 ms per requested
// byte with what arrived (possibly nothing). False only when the call itself failed.
bool serialRead(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t& received);

// Reads what is waiting, or waits up to timeoutMs for the first byte and then returns what
// has arrived (at most count bytes). For stream protocols that frame their own packets.
bool serialReadSome(SerialHandle handle, void* data, std::uint32_t count, std::uint32_t timeoutMs,
                    std::uint32_t& received);

// Closes the port; closing kInvalidSerialHandle does nothing.
void serialClose(SerialHandle handle);

}  // namespace qor::platform

// The update worker's exception and its error codes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qor {

inline constexpr std::int32_t cEX_PORT_OPEN = 10;
inline constexpr std::int32_t cEX_PORT_IO = 11;
inline constexpr std::int32_t cEX_CANCEL = 20;
inline constexpr std::int32_t cEX_NO_ANSWER = 30;
inline constexpr std::int32_t cEX_WRONG_LOGGER = 40;
inline constexpr std::int32_t cEX_LOGGER_EXCEPTION = 41;
inline constexpr std::int32_t cEX_VERIFY = 45;
inline constexpr std::int32_t cEX_NO_UPDATE = 47;
inline constexpr std::int32_t cEX_INFO_ONLY = 70;
inline constexpr std::int32_t cEX_KE_TIMEOUT = 100;
inline constexpr std::int32_t cEX_KE_CRC = 101;
inline constexpr std::int32_t cEX_KE_POR = 102;
inline constexpr std::int32_t cEX_KE_NAK = 103;
inline constexpr std::int32_t cEX_KE_ANSWER = 104;

// A failure the worker detected. The message is diagnostic only; nothing shows it.
class EQor : public std::runtime_error {
  public:
    explicit EQor(std::int32_t code) : std::runtime_error(""), iException(code) {}
    EQor(std::int32_t code, const std::string& sMsg) : std::runtime_error(sMsg), iException(code) {}
    EQor(std::int32_t code, std::int32_t iInfo)
        : std::runtime_error(std::to_string(iInfo)), iException(code) {}

    std::int32_t iException;
};

}  // namespace qor

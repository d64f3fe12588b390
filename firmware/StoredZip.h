// Writes a ZIP archive whose members are stored uncompressed, byte for byte reproducibly:
// one time stamp for every member, no extra fields, no data descriptors, no comment.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qor::firmware {

struct ZipMember {
    std::string name;
    std::vector<std::uint8_t> data;
};

// MS-DOS date and time as ZIP headers store them (two-second resolution, years 1980 to 2107).
struct DosDateTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};

DosDateTime dosDateTime(int year, int month, int day, int hour, int minute, int second);

// Members in the given order. Throws std::length_error beyond the limits of a ZIP without the
// 64-bit extension.
std::vector<std::uint8_t> writeStoredZip(std::span<const ZipMember> members, DosDateTime stamp);

}  // namespace qor::firmware

#include "firmware/StoredZip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace qor::firmware {

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
// Version 1.0 is all a stored member needs; "made by" says MS-DOS file attributes.
constexpr std::uint16_t kVersionNeeded = 10;
constexpr std::uint16_t kVersionMadeBy = 20;
constexpr std::uint16_t kMethodStored = 0;

class LittleEndianWriter {
  public:
    explicit LittleEndianWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void u16(std::uint32_t value) {
        out_.push_back(static_cast<std::uint8_t>(value));
        out_.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    void bytes(std::span<const std::uint8_t> data) {
        out_.insert(out_.end(), data.begin(), data.end());
    }
    void text(const std::string& s) { out_.insert(out_.end(), s.begin(), s.end()); }

  private:
    std::vector<std::uint8_t>& out_;
};

std::uint32_t crc32Of(std::span<const std::uint8_t> data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes the length as uInt: feed large members in slices.
    std::size_t offset = 0;
    while (offset < data.size()) {
        const std::size_t slice = std::min<std::size_t>(data.size() - offset, 1u << 30);
        crc = crc32(crc, data.data() + offset, static_cast<uInt>(slice));
        offset += slice;
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t checked32(std::size_t value, const char* what) {
    if (value > std::numeric_limits<std::uint32_t>::max() - 1) {
        throw std::length_error(std::string("ZIP without 64-bit extension: ") + what);
    }
    return static_cast<std::uint32_t>(value);
}

// The fields that the local and the central header share, from "version needed" on.
struct MemberHeader {
    DosDateTime stamp;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint16_t nameLength = 0;

    void write(LittleEndianWriter& w) const {
        w.u16(kVersionNeeded);
        w.u16(0);  // flags: no data descriptor, no encryption, names in CP437
        w.u16(kMethodStored);
        w.u16(stamp.time);
        w.u16(stamp.date);
        w.u32(crc);
        w.u32(size);  // compressed
        w.u32(size);  // uncompressed
        w.u16(nameLength);
        w.u16(0);  // extra field length
    }
};

}  // namespace

DosDateTime dosDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        throw std::out_of_range("date or time outside what a ZIP header can hold");
    }
    return {static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2)),
            static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day)};
}

std::vector<std::uint8_t> writeStoredZip(std::span<const ZipMember> members, DosDateTime stamp) {
    if (members.size() > 0xFFFF) {
        throw std::length_error("ZIP without 64-bit extension: too many members");
    }
    std::vector<std::uint8_t> out;
    LittleEndianWriter w(out);
    std::vector<MemberHeader> headers;
    std::vector<std::uint32_t> offsets;

    for (const ZipMember& member : members) {
        if (member.name.empty() || member.name.size() > 0xFFFF) {
            throw std::length_error("ZIP member name empty or too long");
        }
        const MemberHeader header{stamp, crc32Of(member.data),
                                  checked32(member.data.size(), "member too large"),
                                  static_cast<std::uint16_t>(member.name.size())};
        offsets.push_back(checked32(out.size(), "archive too large"));
        w.u32(kLocalHeaderSignature);
        header.write(w);
        w.text(member.name);
        w.bytes(member.data);
        headers.push_back(header);
    }

    const std::uint32_t directoryOffset = checked32(out.size(), "archive too large");
    for (std::size_t i = 0; i < members.size(); ++i) {
        w.u32(kCentralHeaderSignature);
        w.u16(kVersionMadeBy);
        headers[i].write(w);
        w.u16(0);  // comment length
        w.u16(0);  // disk number
        w.u16(0);  // internal attributes
        w.u32(0);  // external attributes
        w.u32(offsets[i]);
        w.text(members[i].name);
    }
    const std::uint32_t directorySize =
        checked32(out.size() - directoryOffset, "central directory too large");

    const auto count = static_cast<std::uint16_t>(members.size());
    w.u32(kEndRecordSignature);
    w.u16(0);  // this disk
    w.u16(0);  // disk with the central directory
    w.u16(count);
    w.u16(count);
    w.u32(directorySize);
    w.u32(directoryOffset);
    w.u16(0);  // comment length
    return out;
}

}  // namespace qor::firmware

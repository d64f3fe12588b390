// The serial line and the clock of the fuzz targets: the program's serial and clock seams
// implemented over bytes in memory (linked in place of the platform's own), so that the real
// receivers read arbitrary byte streams with the port's read semantics, and time-outs pass in
// virtual time instead of real waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qor::fuzz {

// What the device sends. All pieces are on the line at once, or, with piecePerWrite, one more
// piece arrives after each write of the host (an answer to each request).
void resetLine(std::vector<std::vector<std::uint8_t>> pieces, bool piecePerWrite);

// Splits fuzz input into pieces, each a length byte followed by that many bytes (the last piece
// takes what is left).
std::vector<std::vector<std::uint8_t>> lengthPrefixedPieces(std::span<const std::uint8_t> data);

// True once every byte the device sends has been read.
bool lineDrained();
// Bytes sent or still to send that the host has not read.
std::size_t bytesLeft();

// Bytes the host wrote since resetLine.
std::size_t bytesWritten();

}  // namespace qor::fuzz

#include "engine/console/OruPipeFilters.h"

#include <algorithm>

#include "engine/console/OruAssert.h"

namespace qor {

TOruPipeFilter::TOruPipeFilter(TOruPipe* APipe, bool AOwnsPipe)
    : fPipe(APipe), fOwnsPipe(AOwnsPipe) {
    oruAssert(APipe != nullptr, "pipe filter created without a pipe");
}

TOruPipeFilter::~TOruPipeFilter() {
    if (fOwnsPipe) {
        delete fPipe;
    }
}

void TOruPipeFilter::ReadPipe() {
    handleBytes(fPipe->ReadBytes(0));
}

void TOruPipeFilter::handleBytes(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        return;
    }
    std::vector<std::uint8_t> buffer = std::move(fUnprocessedData);
    fUnprocessedData.clear();
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    const std::size_t heldBack = std::min(CountHeldBackBytes(buffer), buffer.size());
    if (heldBack > 0) {
        const auto split = buffer.end() - static_cast<std::ptrdiff_t>(heldBack);
        fUnprocessedData.assign(split, buffer.end());
        buffer.erase(split, buffer.end());
    }
    if (!buffer.empty()) {
        ProcessBytes(buffer);
    }
}

void TOruPipeFilter::flushOnDestroy() noexcept {
    try {
        FlushBuffered();
    } catch (...) {
    }
}

TOruAnsiSBCSPipeFilter::TOruAnsiSBCSPipeFilter(TOruPipe* APipe, bool AOwnsPipe)
    : TOruPipeFilter(APipe, AOwnsPipe), fEOLMarker("\r\n") {}

TOruAnsiSBCSPipeFilter::~TOruAnsiSBCSPipeFilter() {
    flushOnDestroy();
}

std::size_t TOruAnsiSBCSPipeFilter::CountHeldBackBytes(const std::vector<std::uint8_t>&) {
    return 0;  // every byte is a whole character
}

void TOruAnsiSBCSPipeFilter::ProcessBytes(const std::vector<std::uint8_t>& Buffer) {
    const std::string text(Buffer.begin(), Buffer.end());
    if (fOnText) {
        fOnText(*this, text);
    }
    fPartialLine += text;
    if (fEOLMarker.empty()) {
        return;
    }
    // Searching the accumulated text finds a marker split across two reads as well.
    std::size_t at = 0;
    while ((at = fPartialLine.find(fEOLMarker)) != std::string::npos) {
        // The line leaves the buffer before the callback, so a callback that raises or reads
        // the pipe again never sees it twice.
        const std::string line = fPartialLine.substr(0, at);
        fPartialLine.erase(0, at + fEOLMarker.size());
        if (fOnLineEnd) {
            fOnLineEnd(*this, line);
        }
    }
}

void TOruAnsiSBCSPipeFilter::FlushBuffered() {
    if (fPartialLine.empty()) {
        return;
    }
    const std::string line = std::move(fPartialLine);
    fPartialLine.clear();
    if (fOnLineEnd) {
        fOnLineEnd(*this, line);
    }
}

}  // namespace qor

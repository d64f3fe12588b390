// Filters that read whatever a pipe holds, keep what cannot be handled yet and hand the rest
// on, here as text lines split at an end-of-line marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/console/OruPipe.h"

namespace qor {

class TOruPipeFilter;

// Called with the filter and a piece of single-byte text (one char per byte as read).
using TOruAnsiTextReadEvent = std::function<void(TOruPipeFilter& Sender, const std::string& Text)>;

class TOruPipeFilter {
  public:
    // APipe must not be null. With AOwnsPipe the filter frees the pipe when it is destroyed.
    TOruPipeFilter(TOruPipe* APipe, bool AOwnsPipe);
    // Frees the pipe if owned. Each concrete filter flushes in its own destructor, since the
    // base cannot reach the derived part any more here.
    virtual ~TOruPipeFilter();
    TOruPipeFilter(const TOruPipeFilter&) = delete;
    TOruPipeFilter& operator=(const TOruPipeFilter&) = delete;

    TOruPipe* Pipe() const { return fPipe; }

    // Reads all waiting bytes and handles them; nothing happens when none are waiting.
    void ReadPipe();
    // Delivers whatever the filter still holds.
    void Flush() { FlushBuffered(); }
    bool HaveUnprocessedData() const { return !fUnprocessedData.empty(); }

  protected:
    // How many trailing bytes of the buffer cannot be handled yet (an incomplete character).
    virtual std::size_t CountHeldBackBytes(const std::vector<std::uint8_t>& Buffer) = 0;
    virtual void ProcessBytes(const std::vector<std::uint8_t>& Buffer) = 0;
    virtual void FlushBuffered() = 0;

    // For destructors: flushes, dropping a callback's exception, which cannot leave there.
    void flushOnDestroy() noexcept;

  private:
    void handleBytes(const std::vector<std::uint8_t>& bytes);

    TOruPipe* fPipe;
    bool fOwnsPipe;
    std::vector<std::uint8_t> fUnprocessedData;
};

// Text in a single-byte character set, reported piece by piece and line by line.
class TOruAnsiSBCSPipeFilter : public TOruPipeFilter {
  public:
    TOruAnsiSBCSPipeFilter(TOruPipe* APipe, bool AOwnsPipe);
    ~TOruAnsiSBCSPipeFilter() override;

    const TOruAnsiTextReadEvent& OnText() const { return fOnText; }
    void setOnText(TOruAnsiTextReadEvent Value) { fOnText = std::move(Value); }
    // Called with every complete line, without its marker.
    const TOruAnsiTextReadEvent& OnLineEnd() const { return fOnLineEnd; }
    void setOnLineEnd(TOruAnsiTextReadEvent Value) { fOnLineEnd = std::move(Value); }
    // CR LF unless set otherwise; an empty marker splits nothing.
    const std::string& EOLMarker() const { return fEOLMarker; }
    void setEOLMarker(const std::string& Value) { fEOLMarker = Value; }

  protected:
    std::size_t CountHeldBackBytes(const std::vector<std::uint8_t>& Buffer) override;
    void ProcessBytes(const std::vector<std::uint8_t>& Buffer) override;
    void FlushBuffered() override;

  private:
    std::string fPartialLine;
    TOruAnsiTextReadEvent fOnText;
    TOruAnsiTextReadEvent fOnLineEnd;
    std::string fEOLMarker;
};

}  // namespace qor

// The block bootloader's receiver fed an arbitrary byte stream: the power-on handshake, then the
// answers to announce, write-block and finish as a kind-4 transfer awaits them, all in one
// stream read with the port's semantics. Every frame the receiver accepts must fit its buffer and
// carry a matching check value; everything else must end as the protocol's own errors.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/BlockCrc.h"
#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "fuzz/FakeLine.h"
#include "platform/SerialPort.h"

namespace qor {
namespace {

constexpr std::uint32_t kImageLength = 3000;

class Receiver : public TKECommThread {
  public:
    Receiver() : TKECommThread(0, TCmd::tCMD0, "fuzz") {
        FhPort = platform::serialOpen(FsPort, 57600);
    }

    void run() {
        static const std::vector<std::uint8_t> image(kImageLength, 0x5A);
        step([this] { powerOnHandshake(); });
        step([this] { announceImage(kImageLength, kImageLength); });
        for (std::uint32_t offset = 0; offset < kImageLength && !fuzz::lineDrained();
             offset += 1024) {
            const std::uint32_t count = std::min<std::uint32_t>(1024, kImageLength - offset);
            step([&] { writeImageBlock(offset, count, image.data() + offset); });
        }
        step([this] { finishImage(); });
        // Whatever is left, frame by frame, while the receiver still takes bytes (the rest of a
        // frame is asked for once only, so a partial one may never complete).
        for (std::size_t left = fuzz::bytesLeft(), before = left + 1; left > 0 && left < before;
             before = left, left = fuzz::bytesLeft()) {
            step([this] {
                startAnswerTimer();
                if (tryReceiveBlockFrame()) {
                    checkFrame();
                }
            });
        }
    }

  private:
    // One stage; a protocol error ends it as it would end a run, and the next stage starts
    // with an empty receiver, as the next run would.
    template <class Stage>
    void step(Stage stage) {
        try {
            stage();
        } catch (const EQor& e) {
            if (e.iException < cEX_PORT_OPEN || e.iException > cEX_KE_ANSWER) {
                std::abort();
            }
            FRxPos = 0;
        }
    }

    void checkFrame() const {
        if (FRxLength < 3 || FRxLength > static_cast<std::int32_t>(kBufferSize) || FRxPos != 0) {
            std::abort();
        }
        const auto length = static_cast<std::size_t>(FRxLength);
        const bool longFrame = ((FRxBuffer[0] >> 3) & 0x0F) == 15;
        const bool matches = longFrame ? blockCrc16(FRxBuffer, length - 2) ==
                                             (FRxBuffer[length - 2] | (FRxBuffer[length - 1] << 8))
                                       : blockCrc8(FRxBuffer, length - 1) == FRxBuffer[length - 1];
        if (!matches) {
            std::abort();
        }
    }
};

}  // namespace
}  // namespace qor

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qor::fuzz::resetLine({std::vector<std::uint8_t>(data, data + size)}, false);
    qor::Receiver receiver;
    receiver.run();
    return 0;
}

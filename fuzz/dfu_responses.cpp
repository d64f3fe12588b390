// The DFU tool's client against a bootloader that answers each request with arbitrary bytes:
// SLIP framing, response matching and checking, the values read out of responses (MTU, object
// sizes, offsets, checksums). A small package keeps the transfer within reach of the inputs.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FakeLine.h"
#include "tools/dfu/DfuClient.h"
#include "tools/dfu/Package.h"

namespace {

qor::dfu::Package smallPackage() {
    qor::dfu::PackageImage image;
    image.kind = qor::dfu::ImageKind::Application;
    image.binFile = "app.bin";
    image.datFile = "app.dat";
    for (int i = 0; i < 300; ++i) {
        image.bin.push_back(static_cast<std::uint8_t>(i * 7));
    }
    image.dat.assign(24, 0x11);
    qor::dfu::Package package;
    package.images.push_back(image);
    return package;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const qor::dfu::Package package = smallPackage();
    qor::fuzz::resetLine(qor::fuzz::lengthPrefixedPieces({data, size}), true);
    qor::dfu::DfuOptions options;
    options.connectDelayMs = 0;
    options.pingTries = 2;
    std::size_t lines = 0;
    qor::dfu::DfuClient client([&lines](const std::string&) { ++lines; }, options);
    client.program("fuzz", package);
    return 0;
}

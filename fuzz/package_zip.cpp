// The DFU tool's package reader fed arbitrary bytes as the package file: the ZIP container
// (stored and deflated members, CRC checks), then the manifest and the init packets of whatever
// it finds, then the package checks. It reads or says why not.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/dfu/Package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto package = qor::dfu::readPackage({data, size}, error);
    if (!package) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (package->images.empty()) {
        std::abort();
    }
    error.clear();
    if (!qor::dfu::validatePackage(*package, error) && error.empty()) {
        std::abort();
    }
    return 0;
}

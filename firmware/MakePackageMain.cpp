// qor_make_firmware_package: writes the stand-in DFU package.
//   qor_make_firmware_package <private key PEM> <output ZIP>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "firmware/PackageMaker.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <private key PEM> <output ZIP>\n", argv[0]);
        return 2;
    }
    try {
        std::ifstream keyFile(argv[1], std::ios::binary);
        if (!keyFile) {
            throw std::runtime_error(std::string("cannot read ") + argv[1]);
        }
        std::ostringstream key;
        key << keyFile.rdbuf();
        const std::vector<std::uint8_t> package = qor::firmware::makePackage(key.str());

        // Write beside the target and rename, so a failure never leaves half a package.
        const std::string output = argv[2];
        const std::string temporary = output + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(package.data()),
                      static_cast<std::streamsize>(package.size()));
            out.close();
            if (!out) {
                std::remove(temporary.c_str());
                throw std::runtime_error("cannot write " + temporary);
            }
        }
        if (std::rename(temporary.c_str(), output.c_str()) != 0) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot replace " + output);
        }
        std::printf("%s: %zu bytes\n", output.c_str(), package.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}

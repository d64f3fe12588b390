// Descriptor files read from a C++ stream: the tests' and the fuzzer's way in. Kept apart from
// the named-file reader so that a program without streams links none.
#include <istream>
#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/DescriptorFile.h"

namespace qor {

bool readBl3FileHeader(std::istream& file, TBl3FileHeader& header) {
    return readBl3FileHeaderLines(
        [&file] {
            std::string line;
            std::getline(file, line);
            if (file.bad()) {
                throw EDescriptorFile("The descriptor file cannot be read");
            }
            return withoutCarriageReturn(std::move(line));
        },
        header);
}

bool readLoadedFileHeader(std::istream& file) {
    return updateLoadedFileHeader(
        [&file](TBl3FileHeader& header) { return readBl3FileHeader(file, header); });
}

}  // namespace qor

// The built-in part of the catalogue as a replaceable list. Only the test seam replaces it;
// the program always uses its own list.
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/Bl3FileHeader.h"

namespace qor::detail {

struct CatalogueEntry {
    TBl3FileHeader header;
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
};

// The entries 1 to N in order.
std::vector<CatalogueEntry> builtinEntries();
// Installs a new list and returns the one it replaces.
std::vector<CatalogueEntry> exchangeBuiltinEntries(std::vector<CatalogueEntry> entries);
// Overwrites entry 0 under its lock.
void storeLoadedFileHeader(const TBl3FileHeader& header);

}  // namespace qor::detail

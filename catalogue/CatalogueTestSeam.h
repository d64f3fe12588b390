// Test seam: tests put their own images into the catalogue and get the process-wide catalogue
// state back afterwards. Linked only into tests (qor_catalogue_test_seam).
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/Bl3FileHeader.h"
#include "catalogue/CatalogueEntries.h"

namespace qor::test {

// While it lives, the catalogue holds one more built-in entry (after the others, or instead of
// them with Placement::only) whose data are the given image bytes. Nest guards only in scopes,
// so they end in reverse order.
class ScopedBuiltinEntry {
  public:
    enum class Placement { append, only };

    ScopedBuiltinEntry(const TBl3FileHeader& header, std::vector<std::uint8_t> image,
                       std::uint32_t size, std::uint32_t length,
                       Placement placement = Placement::append);
    ~ScopedBuiltinEntry();
    ScopedBuiltinEntry(const ScopedBuiltinEntry&) = delete;
    ScopedBuiltinEntry& operator=(const ScopedBuiltinEntry&) = delete;

    // The entry's catalogue index.
    std::int32_t index() const { return index_; }

  private:
    std::vector<std::uint8_t> image_;
    std::vector<detail::CatalogueEntry> previous_;
    std::int32_t index_ = 0;
};

// Saves entry 0 (the loaded descriptor) and selectedFirmwareIndex; restores both when it ends.
class ScopedCatalogueState {
  public:
    ScopedCatalogueState();
    ~ScopedCatalogueState();
    ScopedCatalogueState(const ScopedCatalogueState&) = delete;
    ScopedCatalogueState& operator=(const ScopedCatalogueState&) = delete;

  private:
    TBl3FileHeader loaded_;
    std::int32_t selected_;
};

}  // namespace qor::test

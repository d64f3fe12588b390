#include "catalogue/CatalogueTestSeam.h"

#include <utility>

#include "catalogue/Catalogue.h"

namespace qor::test {

ScopedBuiltinEntry::ScopedBuiltinEntry(const TBl3FileHeader& header,
                                       std::vector<std::uint8_t> image, std::uint32_t size,
                                       std::uint32_t length, Placement placement)
    : image_(std::move(image)) {
    std::vector<detail::CatalogueEntry> entries;
    if (placement == Placement::append) {
        entries = detail::builtinEntries();
    }
    entries.push_back({header, image_.data(), size, length});
    index_ = static_cast<std::int32_t>(entries.size());
    previous_ = detail::exchangeBuiltinEntries(std::move(entries));
}

ScopedBuiltinEntry::~ScopedBuiltinEntry() {
    detail::exchangeBuiltinEntries(std::move(previous_));
}

ScopedCatalogueState::ScopedCatalogueState()
    : loaded_(loadedFileHeader()), selected_(selectedFirmwareIndex.load()) {}

ScopedCatalogueState::~ScopedCatalogueState() {
    detail::storeLoadedFileHeader(loaded_);
    selectedFirmwareIndex.store(selected_);
}

}  // namespace qor::test

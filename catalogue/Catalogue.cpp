#include "catalogue/Catalogue.h"

#include <mutex>
#include <utility>

#include "catalogue/CatalogueEntries.h"
#include "catalogue/DescriptorFile.h"
#include "embedded/builtinPackage.h"

namespace qor {

std::atomic<std::int32_t> selectedFirmwareIndex{-1};

namespace {

struct LoadedEntry {
    std::mutex mutex;
    TBl3FileHeader header;  // all numbers 0 and no date until a file is read
};

LoadedEntry& loaded() {
    static LoadedEntry entry;
    return entry;
}

struct BuiltinEntries {
    std::mutex mutex;
    std::vector<detail::CatalogueEntry> entries{
        {builtinFileHeader(), builtinPackage().data(),
         static_cast<std::uint32_t>(builtinPackage().size()), 0}};
};

BuiltinEntries& builtin() {
    static BuiltinEntries list;
    return list;
}

}  // namespace

const TBl3FileHeader& builtinFileHeader() {
    static const TBl3FileHeader header{26156, 2, 5, 18, 35, "19.08.2019 15:36:40", 5, 0};
    return header;
}

std::span<const std::uint8_t> builtinPackage() {
    return embedded::builtinPackage();
}

std::int32_t getFirmwareCount() {
    BuiltinEntries& list = builtin();
    std::lock_guard lock(list.mutex);
    return static_cast<std::int32_t>(list.entries.size());
}

bool getFirmware(std::int32_t index, TBl3FileHeader& header, std::uint32_t& size,
                 std::uint32_t& length, const std::uint8_t*& data) {
    header.qor_class = kFieldWithoutValue;
    header.qor_platform = kFieldWithoutValue;
    header.qor_print = kFieldWithoutValue;
    size = 0;
    length = 0;
    data = nullptr;
    if (index == 0) {
        header = loadedFileHeader();
        return true;
    }
    BuiltinEntries& list = builtin();
    std::lock_guard lock(list.mutex);
    if (index < 1 || static_cast<std::size_t>(index) > list.entries.size()) {
        return false;
    }
    const detail::CatalogueEntry& entry = list.entries[static_cast<std::size_t>(index) - 1];
    header = entry.header;
    size = entry.size;
    length = entry.length;
    data = entry.data;
    return true;
}

void getFirmwareHeader(std::int32_t index, TBl3FileHeader& header) {
    TBl3FileHeader fresh;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    getFirmware(index, fresh, size, length, data);
    header = fresh;
}

TBl3FileHeader loadedFileHeader() {
    LoadedEntry& entry = loaded();
    std::lock_guard lock(entry.mutex);
    return entry.header;
}

bool updateLoadedFileHeader(const std::function<bool(TBl3FileHeader& header)>& read) {
    LoadedEntry& entry = loaded();
    std::lock_guard lock(entry.mutex);
    return read(entry.header);
}

bool readLoadedFileHeader(const std::string& fileName) {
    const std::string text = readDescriptorFile(fileName);
    return updateLoadedFileHeader([&text](TBl3FileHeader& header) {
        return readBl3FileHeader(std::string_view(text), header);
    });
}

namespace detail {

std::vector<CatalogueEntry> builtinEntries() {
    BuiltinEntries& list = builtin();
    std::lock_guard lock(list.mutex);
    return list.entries;
}

std::vector<CatalogueEntry> exchangeBuiltinEntries(std::vector<CatalogueEntry> entries) {
    BuiltinEntries& list = builtin();
    std::lock_guard lock(list.mutex);
    return std::exchange(list.entries, std::move(entries));
}

void storeLoadedFileHeader(const TBl3FileHeader& header) {
    LoadedEntry& entry = loaded();
    std::lock_guard lock(entry.mutex);
    entry.header = header;
}

}  // namespace detail

}  // namespace qor

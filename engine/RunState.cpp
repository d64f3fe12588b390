#include "engine/RunState.h"

#include <array>
#include <mutex>

namespace qor {

std::atomic<bool> cancelFlag{false};
std::atomic<bool> readInfoOnlyFlag{false};
std::atomic<bool> readInfoOnlyCapable{false};
std::atomic<bool> checkClassFlag{true};

namespace {

std::mutex slotMutex;
std::array<std::string, 2> slots;

}  // namespace

void setTextSlot(int slot, const std::string& text) {
    std::lock_guard lock(slotMutex);
    slots.at(static_cast<std::size_t>(slot & 1)) = text;
}

std::string textSlot(int slot) {
    std::lock_guard lock(slotMutex);
    return slots.at(static_cast<std::size_t>(slot & 1));
}

}  // namespace qor

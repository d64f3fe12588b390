// Notifications: the (code, value) pairs a worker posts to the window that started it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qor {

// Notification codes.
inline constexpr std::uint32_t kNotifySuccess = 0;       // value: the worker's command
inline constexpr std::uint32_t kNotifyProgress = 1;      // value: percent 0..99
inline constexpr std::uint32_t kNotifyFailure = 10;      // value: error code, or 0
inline constexpr std::uint32_t kNotifyNoAnswer = 13;     // value: the worker's command
inline constexpr std::uint32_t kNotifyClass = 20;        // value: class code
inline constexpr std::uint32_t kNotifyVersion = 21;      // value: version word
inline constexpr std::uint32_t kNotifyPlatform = 22;     // value: platform code
inline constexpr std::uint32_t kNotifyPrint = 23;        // value: print code
inline constexpr std::uint32_t kNotifyUpdateClass = 25;  // value: module update class
inline constexpr std::uint32_t kNotifySelected = 26;     // value: the worker's command
inline constexpr std::uint32_t kNotifyScan = 27;         // value: catalogue index
inline constexpr std::uint32_t kNotifyNoFirmware = 29;   // value: 0
inline constexpr std::uint32_t kNotifyText = 100;        // value: shared text slot 0 or 1

// The window message the notifications travel as on Windows.
inline constexpr std::uint32_t WM_USER_NOTIFY = 0x0400;

// One notification as a receiver gets it. Notification 100 also carries the line its text slot
// held when the worker posted it: the worker may store its next line before the receiver gets
// round to this one, and reading the slot then would lose a line.
struct Notification {
    std::uint32_t code = 0;
    std::int32_t value = 0;
    std::string text;
};

// Receives notifications. Called on the posting thread; must not block.
using NotificationSink = std::function<void(const Notification&)>;

// Registers a sink and returns its 32-bit handle (never 0).
std::int32_t registerNotificationSink(NotificationSink sink);
// The same for a receiver that only takes the two numbers (it reads text slots itself).
std::int32_t registerNotificationSink(std::function<void(std::uint32_t, std::int32_t)> sink);

// Removes a sink; once this returns the sink is never called again.
void unregisterNotificationSink(std::int32_t hWindow);

// Posts (code, value) to the sink registered under hWindow. Never blocks on the receiver and
// keeps the order of one poster's notifications; a post to an unknown handle is dropped.
void postNotification(std::int32_t hWindow, std::uint32_t code, std::int32_t value);

}  // namespace qor

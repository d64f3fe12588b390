// Tells the main window when a serial port arrives or is removed: udev's announcements through a
// socket notifier where the system has them, the system's device-change broadcasts to the
// window through a native event filter where it sends those.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QSocketNotifier>
#include <QWidget>
#include <functional>

#include "platform/DeviceChange.h"

namespace qor::ui {

class PortWatcher : public QObject, public QAbstractNativeEventFilter {
  public:
    // Watches until destroyed; window is the top-level window the broadcasts are addressed to.
    PortWatcher(QWidget& window, std::function<void()> onPortChange);
    ~PortWatcher() override;
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    QWidget& window_;
    std::function<void()> onPortChange_;
    platform::PortChangeMonitor monitor_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qor::ui

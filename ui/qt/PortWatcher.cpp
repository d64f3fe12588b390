#include "ui/qt/PortWatcher.h"

#include <QCoreApplication>

namespace qor::ui {

PortWatcher::PortWatcher(QWidget& window, std::function<void()> onPortChange)
    : QObject(&window), window_(window), onPortChange_(std::move(onPortChange)) {
    if (monitor_.fd() >= 0) {
        notifier_ = new QSocketNotifier(monitor_.fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (monitor_.takePortChanges()) {
                onPortChange_();
            }
        });
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

PortWatcher::~PortWatcher() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

// The broadcast goes to every top-level window of the program; the main window's copy counts.
// It is passed on to the toolkit's own handling, and the refresh, which may open the port box's
// drop-down, runs once the toolkit is done with the message.
bool PortWatcher::nativeEventFilter(const QByteArray&, void* message, qintptr*) {
    const auto window = static_cast<std::uintptr_t>(window_.effectiveWinId());
    if (window != 0 && platform::isPortChangeMessage(message, window)) {
        QMetaObject::invokeMethod(
            this, [this] { onPortChange_(); }, Qt::QueuedConnection);
    }
    return false;
}

}  // namespace qor::ui

#include "ui/qt/LayoutUnits.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace qor::ui {

int layoutToPixels(int units, int designDpi, double screenDpi) {
    return static_cast<int>(std::lround(units * screenDpi / designDpi));
}

int pixelsToLayout(int pixels, int designDpi, double screenDpi) {
    return static_cast<int>(std::lround(pixels * designDpi / screenDpi));
}

double screenLogicalDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

QMargins windowFrame(const QWidget& window) {
    const auto marginsOf = [](const QWidget& w) {
        const QRect outer = w.frameGeometry();
        const QRect inner = w.geometry();
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    };
    const QMargins own = marginsOf(window);
    const QWidget* owner =
        window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
    if (own.isNull() && owner != nullptr) {
        return marginsOf(*owner);
    }
    return own;
}

}  // namespace qor::ui

// Layout units: the windows are laid out in pixels of a design resolution (120 dpi for the main
// and message windows, 96 dpi for the report and overview windows) and scaled to the screen.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace qor::ui {

inline constexpr int kMainDesignDpi = 120;
inline constexpr int kReportDesignDpi = 96;

// units x screenDpi / designDpi, rounded to the nearest pixel.
int layoutToPixels(int units, int designDpi, double screenDpi);
// The inverse, rounded to the nearest unit.
int pixelsToLayout(int pixels, int designDpi, double screenDpi);

// The logical resolution of the primary screen (96 when there is none).
double screenLogicalDpi();

// The frame the window system puts around a top-level window. Before a window is first shown
// its frame is not known yet; then the frame of the window it belongs to stands in for it.
QMargins windowFrame(const QWidget& window);

class LayoutScale {
  public:
    LayoutScale(int designDpi, double screenDpi) : designDpi_(designDpi), screenDpi_(screenDpi) {}

    int px(int units) const { return layoutToPixels(units, designDpi_, screenDpi_); }
    int units(int pixels) const { return pixelsToLayout(pixels, designDpi_, screenDpi_); }
    QRect rect(int x, int y, int width, int height) const {
        return {px(x), px(y), px(width), px(height)};
    }
    double screenDpi() const { return screenDpi_; }

  private:
    int designDpi_;
    double screenDpi_;
};

}  // namespace qor::ui

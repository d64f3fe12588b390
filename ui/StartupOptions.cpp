#include "ui/StartupOptions.h"

namespace qor::ui {

// TODO(service mode): read the per-user unlock value; until then the program runs in normal mode.
bool serviceModeUnlocked() {
    return false;
}

// TODO(service mode): options "cc:" and "f:" in service mode, "mf:" always. Until then every
// setting keeps its initial value.
StartupOptions applyStartupOptions(bool serviceMode) {
    StartupOptions options;
    options.serviceLevel = serviceMode ? 1 : 0;
    return options;
}

}  // namespace qor::ui

// What the start-up learns from the service-mode unlock and the command line.
#pragma once

namespace qor::ui {

struct StartupOptions {
    int serviceLevel = 0;  // 0 normal, 1 service mode, 2 service mode with file functions
    bool measurementFormat = false;
};

// The per-user service-mode unlock.
bool serviceModeUnlocked();

// Reads the command-line options that apply in this mode.
StartupOptions applyStartupOptions(bool serviceMode);

}  // namespace qor::ui

// qor_ble_dfu: sends a Nordic DFU package to the radio module's serial bootloader.
#include "tools/dfu/DfuSystem.h"
#include "tools/dfu/DfuTool.h"

int main(int argc, char** argv) {
    const auto args = qor::dfu::toolArguments(argc, argv);
    // Outside the tool's contract (which starts with "--qor"), for whoever asks what it is.
    if (args.size() == 1 && args[0] == "--version") {
        qor::dfu::writeOutputLine("qor_ble_dfu " QOR_VERSION);
        return 0;
    }
    return qor::dfu::runDfuTool(args, qor::dfu::writeOutputLine);
}

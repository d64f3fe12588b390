// qor_ble_dfu: sends a Nordic DFU package to the radio module's serial bootloader.
#include "tools/dfu/DfuSystem.h"
#include "tools/dfu/DfuTool.h"

int main(int argc, char** argv) {
    return qor::dfu::runDfuTool(qor::dfu::toolArguments(argc, argv), qor::dfu::writeOutputLine);
}

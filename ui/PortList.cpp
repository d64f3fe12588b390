#include "ui/PortList.h"

namespace qor::ui {

// TODO(port discovery): list the USB virtual serial ports from the system's device table. Until
// then the list stays empty and the user types the port name.
void fillPortList(QStringList& list) {
    list.clear();
}

}  // namespace qor::ui

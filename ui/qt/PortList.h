// The ports the port box offers.
#pragma once

#include <QStringList>

namespace qor::ui {

// Replaces the list with the names of the present USB virtual serial ports, in the order of the
// system's serial device table.
void fillPortList(QStringList& list);

}  // namespace qor::ui

#include "ui/qt/PortList.h"

#include "frontend/PortNames.h"

namespace qor::ui {

void fillPortList(QStringList& list) {
    list.clear();
    for (const std::string& name : listOfferedPorts()) {
        list.append(QString::fromStdString(name));
    }
}

}  // namespace qor::ui

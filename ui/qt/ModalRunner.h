// How a modal window is run: QDialog::exec in the program; tests answer it instead.
#pragma once

#include <QDialog>
#include <functional>

namespace qor::ui {

using ModalRunner = std::function<int(QDialog&)>;

inline int execModal(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace qor::ui

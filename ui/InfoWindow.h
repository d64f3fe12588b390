// The firmware overview window (Info > Firmware).
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/ModalRunner.h"

namespace qor::ui {

class TfrmInfo : public QDialog {
  public:
    TfrmInfo(QWidget* parent, double screenDpi);

    // Shows the overview modally at the given left and top edges with the given outer height;
    // returns the modal result.
    std::int32_t Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight);

    void setModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }

  private:
    ModalRunner runModal_ = &execModal;
};

}  // namespace qor::ui

// The firmware overview window (Info > Firmware): one row per catalogue descriptor, columns
// fitted to their texts.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QRect>
#include <QTreeWidget>
#include <cstdint>

#include "ui/qt/LayoutUnits.h"
#include "ui/qt/ModalRunner.h"

namespace qor::ui {

class TfrmInfo : public QDialog {
  public:
    TfrmInfo(QWidget* parent, double screenDpi);

    // Lists the catalogue now (the loaded descriptor first when it is selected, then the
    // built-in entries from the highest index down), places the window at the given left and
    // top edges with the given outer height, fits the columns and shows the window modally;
    // returns the modal result.
    std::int32_t Execute(std::int32_t ALeft, std::int32_t ATop, std::int32_t AHeight);

    void setModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }

  protected:
    bool event(QEvent* event) override;

  private:
    // Puts the frame's top-left corner at the wanted place and gives the frame the wanted height.
    void place();
    // Each column as wide as the larger of its header and its widest cell, plus 5; the client
    // area as wide as the columns, plus 30.
    void fitColumns();

    LayoutScale scale_;
    QRect wanted_;  // left, top and outer height asked for (width unused)
    // The window manager frames a window only when it is first shown; until its frame is known
    // a move can land off by the frame, so the place is taken again once it is.
    bool frameUnknown_ = true;
    ModalRunner runModal_ = &execModal;
    QTreeWidget* ListView1;
    QPushButton* Button1;
};

}  // namespace qor::ui

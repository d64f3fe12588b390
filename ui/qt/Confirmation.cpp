#include "ui/qt/Confirmation.h"

#include <QPushButton>

namespace qor::ui {

std::unique_ptr<QMessageBox> makeConfirmation(QWidget* parent, const QString& question) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, QStringLiteral("Confirm"),
                                             displayText(question), QMessageBox::NoButton, parent);
    QPushButton* yes = box->addButton(QMessageBox::Yes);
    QPushButton* no = box->addButton(QMessageBox::No);
    yes->setText(QStringLiteral("Yes"));
    no->setText(QStringLiteral("No"));
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
    return box;
}

bool askConfirmation(QWidget* parent, const QString& question) {
    const auto box = makeConfirmation(parent, question);
    box->exec();
    return box->clickedButton() == box->button(QMessageBox::Yes);
}

QString displayText(const std::string& text) {
    return displayText(QString::fromStdString(text));
}

QString displayText(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace qor::ui

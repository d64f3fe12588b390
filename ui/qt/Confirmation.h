// Every question the program asks is a dialog titled "Confirm" with the buttons "Yes" (the
// default) and "No", in these words whatever language the toolkit itself carries.
#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>

namespace qor::ui {

// The dialog for a question, not yet shown.
std::unique_ptr<QMessageBox> makeConfirmation(QWidget* parent, const QString& question);

// Asks the question modally; true when the answer is Yes.
bool askConfirmation(QWidget* parent, const QString& question);

// Texts carry Windows line breaks ("\r\n"); the toolkit wants plain "\n".
QString displayText(const std::string& text);
QString displayText(QString text);

}  // namespace qor::ui

// Every question the program asks: a dialog titled "Confirm" with the buttons "Yes" (the default)
// and "No", in these words whatever language Windows speaks. A system message box would label
// its buttons in the system's language, so the dialog is built here from a template in memory.
#pragma once

#include <windows.h>

#include <string>

namespace qor::win32 {

// Asks the question modally over the owner; true when the answer is Yes. Escape answers No.
bool askConfirmation(HWND hOwner, const std::string& question);

}  // namespace qor::win32

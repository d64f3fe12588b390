// Splitting a command line into arguments the way the Windows C run-time does, so that one
// command-line string means the same program and arguments on every OS.
#pragma once

#include <string>
#include <vector>

namespace qor::platform {

// Blanks (space, tab) separate arguments outside double quotes. The first argument is the
// program: a leading double quote runs it to the next double quote, otherwise it ends at the
// first blank; backslashes are literal in it. In the other arguments double quotes group and
// are dropped; 2n backslashes before a double quote give n backslashes and the quote toggles
// grouping, 2n+1 give n backslashes and a literal quote; other backslashes are literal.
// Leading blanks are skipped.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// One argument (not the program) written so that splitCommandLine gives it back unchanged:
// as it stands when it has no blank and no double quote, otherwise quoted with its backslashes
// and quotes escaped.
std::string quoteArgument(const std::string& argument);

// The program (first argument) for a command line: quoted when it has a blank. A program name
// cannot carry a double quote.
std::string quoteProgram(const std::string& program);

}  // namespace qor::platform

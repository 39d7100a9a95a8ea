// The command line of a program, for the reference host: arguments as UTF-8
// texts an argument parser takes, and the way back from such a text to the
// UTF-16 name of a file.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The process's arguments, the program's name first. POSIX: argv as it is
// (the bytes the user typed). Windows: the wide command line
// (GetCommandLineW, CommandLineToArgvW) in UTF-8, lone surrogates in their
// three-byte form, so that every name a user can type arrives whole and not
// in the ANSI code page. Returns false when they cannot be had.
bool CommandLineArguments(int argc, char** argv, std::vector<std::string>& out);

// An argument of CommandLineArguments as UTF-16, losslessly: on POSIX bytes
// that are not UTF-8 become U+DC80..U+DCFF, which the file calls turn back
// into the same bytes. Never fails on POSIX; on Windows false for text that
// did not come from CommandLineArguments.
bool ArgumentToWide(const std::string& argument, std::u16string& out);

}  // namespace platform

// Folders, child processes and the terminal, for the reference host's batch
// runs: the names in a folder, asehost started again on one file with its
// output caught whole, and whether standard error is a terminal.
//
// A child's standard output and standard error go to unnamed temporary
// files (never pipes), so that any number of children run without the
// parent reading them as they go, and each child's text is read back whole
// once it has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One name in a folder.
struct FolderEntry {
    std::u16string name;  // the name alone, no folder
    bool folder = false;  // a folder to walk (links to folders are not)
    bool file = false;    // a regular file, or a link to one
};

// The entries of the folder `path` but "." and "..", in the system's order.
// False, with the system's reason in `error`, when it cannot be read.
bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries, std::string& error);

// Makes the folder `path` unless it is one already (its parent must be).
// False, with the system's reason in `error`, otherwise.
bool MakeFolder(const std::u16string& path, std::string& error);

// A child process started by StartProcess.
struct ChildProcess {
    intptr_t handle = 0;  // the process id on POSIX, its handle on Windows
    void* output = nullptr;  // the temporary file behind standard output
    void* errors = nullptr;  // the temporary file behind standard error
    bool running = false;
    int exitCode = -1;  // once ended: its exit code, or 1 for one killed by a signal
};

// Starts `arguments[0]` (a full path) with `arguments` as its command
// line, its standard input the parent's, its standard output and error
// caught. False, with the reason in `error`, when it cannot be started;
// `child` then holds nothing to release.
bool StartProcess(const std::vector<std::u16string>& arguments, ChildProcess& child, std::string& error);

// Waits until one of the running `children` ends and returns its index,
// its exit code set and `running` false; SIZE_MAX when none is running.
// At most 64 children (the Windows wait's bound).
size_t WaitForAnyProcess(std::vector<ChildProcess>& children);

// Reads back the whole of one of an ended child's files (`output` or
// `errors`), releases it and nulls `file`. Empty for a null `file`.
std::string TakeChildFile(void*& file);

// Reads back what an ended child wrote to its standard output and error,
// and releases its files. Safe on a child that never started.
inline void TakeProcessOutput(ChildProcess& child, std::string& output, std::string& errors) {
    output = TakeChildFile(child.output);
    errors = TakeChildFile(child.errors);
}

// Windows: the names a command-line argument with '*' or '?' in its last
// part matches, in the folder it names, sorted; an argument without them,
// or one that matches nothing, is left as it is (one name). POSIX: the
// argument alone, since the shell has expanded it.
std::vector<std::u16string> ExpandWildcards(const std::u16string& argument);

// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

}  // namespace platform

// The batch seam on Windows: FindFirstFileW, CreateProcessW with standard
// output and error on temporary files deleted when closed,
// WaitForMultipleObjects, and the console test.
#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Utf16(const wchar_t* text) {
    std::u16string out;
    for (; *text != 0; ++text) out += static_cast<char16_t>(*text);
    return out;
}

std::string SystemReason(DWORD code) {
    char text[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string reason(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
    return reason.empty() ? "error " + std::to_string(code) : reason;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds
// blanks or quotes (or is empty), backslashes before a quote doubled.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// A temporary file the child inherits as its standard output or error,
// removed by the system when the last handle to it is closed.
HANDLE ChildOutputFile(std::string& error) {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"ase", 0, name) == 0) {
        error = SystemReason(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) error = SystemReason(GetLastError());
    return file;
}

}  // namespace

std::string TakeChildFile(void*& handle) {
    std::string text;
    if (handle == nullptr) return text;
    const HANDLE file = static_cast<HANDLE>(handle);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
    CloseHandle(file);
    handle = nullptr;
    return text;
}


bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries, std::string& error) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(path + u"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        error = SystemReason(GetLastError());
        return false;
    }
    do {
        const std::u16string name = Utf16(found.cFileName);
        if (name == u"." || name == u"..") continue;
        FolderEntry item;
        item.name = name;
        const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A junction or link to a folder is not walked: it may lead back up.
        item.folder = directory && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        item.file = !directory && (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
        entries.push_back(std::move(item));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool MakeFolder(const std::u16string& path, std::string& error) {
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
    error = SystemReason(code);
    return false;
}

bool StartProcess(const std::vector<std::u16string>& arguments, ChildProcess& child, std::string& error) {
    child = ChildProcess();
    std::wstring line;
    for (const std::u16string& argument : arguments) {
        if (!line.empty()) line += L' ';
        AppendQuoted(line, Wide(argument));
    }
    const HANDLE output = ChildOutputFile(error);
    if (output == INVALID_HANDLE_VALUE) return false;
    const HANDLE errors = ChildOutputFile(error);
    if (errors == INVALID_HANDLE_VALUE) {
        CloseHandle(output);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(Wide(arguments.at(0)).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        error = SystemReason(GetLastError());
        CloseHandle(output);
        CloseHandle(errors);
        return false;
    }
    CloseHandle(process.hThread);
    child.handle = reinterpret_cast<intptr_t>(process.hProcess);
    child.output = output;
    child.errors = errors;
    child.running = true;
    return true;
}

size_t WaitForAnyProcess(std::vector<ChildProcess>& children) {
    std::vector<HANDLE> handles;
    std::vector<size_t> indices;
    for (size_t k = 0; k < children.size() && handles.size() < MAXIMUM_WAIT_OBJECTS; ++k) {
        if (!children[k].running) continue;
        handles.push_back(reinterpret_cast<HANDLE>(children[k].handle));
        indices.push_back(k);
    }
    if (handles.empty()) return SIZE_MAX;
    const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    // A failed wait ends the first child as failed rather than waiting forever.
    const size_t which = result < WAIT_OBJECT_0 + handles.size() ? result - WAIT_OBJECT_0 : 0;
    ChildProcess& child = children[indices[which]];
    DWORD code = 1;
    if (result != WAIT_OBJECT_0 + which || !GetExitCodeProcess(handles[which], &code)) code = 1;
    CloseHandle(handles[which]);
    child.running = false;
    child.exitCode = static_cast<int>(code);
    return indices[which];
}

std::vector<std::u16string> ExpandWildcards(const std::u16string& argument) {
    const size_t slash = argument.find_last_of(u"\\/:");
    const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
    if (argument.find_first_of(u"*?", nameStart) == std::u16string::npos) return {argument};
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(argument).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {argument};
    do {
        const std::u16string name = Utf16(found.cFileName);
        if (name == u"." || name == u"..") continue;
        names.push_back(argument.substr(0, nameStart) + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    if (names.empty()) names.push_back(argument);
    return names;
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace platform

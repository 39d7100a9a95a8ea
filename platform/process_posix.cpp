// The batch seam on POSIX: readdir, posix_spawn with standard output and
// error on tmpfile()s, waitpid, isatty.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix_path.h"

extern char** environ;

namespace platform {

namespace {

// A tmpfile() that children other than the one it is meant for do not
// inherit: dup2 onto 1 or 2 clears the flag for that one.
std::FILE* ChildOutputFile() {
    std::FILE* file = std::tmpfile();
    if (file != nullptr) ::fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    return file;
}

}  // namespace

std::string TakeChildFile(void*& handle) {
    std::string text;
    auto* file = static_cast<std::FILE*>(handle);
    if (file == nullptr) return text;
    std::rewind(file);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    handle = nullptr;
    return text;
}


bool ListFolder(const std::u16string& path, std::vector<FolderEntry>& entries, std::string& error) {
    const NativePath native(path.c_str());
    DIR* folder = native.ok ? ::opendir(native.bytes) : nullptr;
    if (folder == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FolderEntry item;
        std::vector<char16_t> name(std::strlen(entry->d_name) + 1);
        if (!FromNative(entry->d_name, name.size() - 1, name.data(), name.size())) continue;
        item.name = name.data();
        // lstat first: a link to a folder is not walked, so that a link to
        // a parent cannot make the walk endless; a link to a file counts.
        struct stat info;
        if (::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            item.folder = true;
        } else if (S_ISLNK(info.st_mode)) {
            item.file = ::fstatat(folderFd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        } else {
            item.file = S_ISREG(info.st_mode);
        }
        entries.push_back(std::move(item));
    }
    ::closedir(folder);
    return true;
}

bool MakeFolder(const std::u16string& path, std::string& error) {
    const NativePath native(path.c_str());
    struct stat info;
    if (native.ok && ::mkdir(native.bytes, 0777) == 0) return true;
    const int code = native.ok ? errno : ENAMETOOLONG;
    if (native.ok && ::stat(native.bytes, &info) == 0 && S_ISDIR(info.st_mode)) return true;
    error = std::strerror(code);
    return false;
}

bool StartProcess(const std::vector<std::u16string>& arguments, ChildProcess& child, std::string& error) {
    child = ChildProcess();
    std::vector<std::string> texts;
    for (const std::u16string& argument : arguments) {
        const NativePath native(argument.c_str());
        if (!native.ok) {
            error = std::strerror(errno);
            return false;
        }
        texts.emplace_back(native.bytes);
    }
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    std::FILE* output = ChildOutputFile();
    std::FILE* errors = output != nullptr ? ChildOutputFile() : nullptr;
    if (errors == nullptr) {
        error = std::strerror(errno);
        if (output != nullptr) std::fclose(output);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(output), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(errors), 2);
    pid_t pid = 0;
    const int code = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (code != 0) {
        error = std::strerror(code);
        std::fclose(output);
        std::fclose(errors);
        return false;
    }
    child.handle = pid;
    child.output = output;
    child.errors = errors;
    child.running = true;
    return true;
}

size_t WaitForAnyProcess(std::vector<ChildProcess>& children) {
    bool any = false;
    for (const ChildProcess& child : children) any = any || child.running;
    if (!any) return SIZE_MAX;
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            // No child left to wait for: count the running ones as failed.
            for (size_t k = 0; k < children.size(); ++k) {
                if (!children[k].running) continue;
                children[k].running = false;
                children[k].exitCode = 1;
                return k;
            }
            return SIZE_MAX;
        }
        for (size_t k = 0; k < children.size(); ++k) {
            if (!children[k].running || children[k].handle != pid) continue;
            children[k].running = false;
            children[k].exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
            return k;
        }
    }
}

std::vector<std::u16string> ExpandWildcards(const std::u16string& argument) {
    return {argument};
}

bool StandardErrorIsTerminal() {
    return ::isatty(2) == 1;
}

}  // namespace platform

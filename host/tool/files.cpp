// How asehost names, reads and writes the files of a command line: paths
// made absolute against the folder it was started in, inputs checked before
// anything is read, outputs replaced only whole (links, mode and owner
// kept), and the reasons for what fails, in words.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/store/text.h"
#include "host/tool/tool.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/replace.h"

namespace asehost {

// A path from the command line made absolute against the current directory
// as it is now: an import changes the current directory.
std::u16string PathArgument(const std::string& argument) {
    const std::u16string wide = ArgumentToWide(argument);
    std::vector<char16_t> buffer(4096);
    if (!platform::AbsolutePath(wide.c_str(), buffer.data(), buffer.size())) return wide;
    return std::u16string(buffer.data());
}

// asefilter next to the executable, with the suffix its platform uses.
std::u16string DefaultPluginPath() {
    std::vector<char16_t> buffer(4096);
    if (!platform::ExecutablePath(buffer.data(), buffer.size())) return u"asefilter.so";
    std::u16string path(buffer.data());
    const size_t slash = path.find_last_of(u"/\\");
    const std::u16string directory = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    const bool windows = name.size() > 4 && name.compare(name.size() - 4, 4, u".exe") == 0;
    return DefaultModulePath(directory, windows ? u"asefilter.dll" : u"asefilter.so");
}

bool OpenPlugin(PluginLoader& loader, const std::string& pluginArgument) {
    const std::u16string path = pluginArgument.empty() ? DefaultPluginPath() : PathArgument(pluginArgument);
    std::string error;
    if (!loader.open(path.c_str(), error)) {
        std::cerr << "asehost: " << error << "\n";
        return false;
    }
    return true;
}

// Why an input named on the command line cannot be read, or empty when it
// can: the system's reason for a name it cannot open, and a word of our own
// for a folder or a device.
std::string UnreadableReason(const std::u16string& path) {
    switch (platform::KindOfPath(path.c_str())) {
        case platform::PathKind::kFolder:
            return "it is a folder";
        case platform::PathKind::kOther:
            return "it is not a regular file";
        case platform::PathKind::kNone:
        case platform::PathKind::kFile:
            break;
    }
    errno = 0;
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (!file) return errno != 0 ? std::strerror(errno) : "cannot be opened";
    std::fclose(file);
    return std::string();
}

// The host hands the plug-in a file name of at most 259 units; false, with
// a message, for a longer one.
bool FitsHostFileName(const std::string& argument, const std::u16string& path) {
    if (path.size() < static_cast<size_t>(kDualStringUnits)) return true;
    std::cerr << "asehost: \"" << argument << "\" is " << path.size() << " characters long as a full path; the host's file names hold "
              << (kDualStringUnits - 1) << "\n";
    return false;
}

// Reports an input that cannot be read; false then.
bool CheckInput(const std::string& argument, const std::u16string& path) {
    if (!FitsHostFileName(argument, path)) return false;
    const std::string reason = UnreadableReason(path);
    if (reason.empty()) return true;
    std::cerr << "asehost: cannot open \"" << argument << "\": " << reason << "\n";
    return false;
}

// True when the file at `path` starts as ASE text does (after blanks and a
// UTF-8 byte-order mark): a scene named where a module was expected.
bool LooksLikeAseText(const std::u16string& path) {
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) return false;
    char head[64] = {};
    const size_t n = std::fread(head, 1, sizeof head - 1, file);
    std::fclose(file);
    std::string_view text(head, n);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    return !text.empty() && text.front() == '*';
}

// The system's reason for a failed file operation, in words.
std::string FileErrorText(int code) {
    const char16_t* reason = platform::FileErrorReason(code);
    return reason != nullptr ? Utf16ToUtf8(reason) : code != 0 ? std::strerror(code) : "unknown error";
}

InterruptsHeldFor::InterruptsHeldFor(const std::u16string& target)
    : held_(platform::ReplacementNeedsBlockedInterrupts(target.c_str())),
      previous_(held_ ? platform::BlockInterrupts() : 0) {}

InterruptsHeldFor::~InterruptsHeldFor() {
    if (held_) platform::UnblockInterrupts(previous_);
}

bool WriteOutput(const std::string& argument, const std::function<bool(std::FILE*)>& write, std::string& error) {
    if (argument == "-") {
        std::cout.flush();
        const bool ok = write(stdout) && std::fflush(stdout) == 0 && !std::ferror(stdout);
        if (!ok) std::cerr << "asehost: cannot write to standard output" << (error.empty() ? "" : ": " + error) << "\n";
        return ok;
    }
    const std::u16string path = PathArgument(argument);
    const InterruptsHeldFor interrupts(path);
    platform::FileReplacement replacement;
    bool ok = platform::BeginFileReplacement(path.c_str(), "wb", replacement);
    if (ok) {
        errno = 0;
        ok = write(replacement.stream);
        if (!ok && error.empty()) error = FileErrorText(errno);
        ok = ok && platform::CommitFileReplacement(replacement);
    }
    if (!ok && error.empty()) error = FileErrorText(replacement.error);
    platform::AbandonFileReplacement(replacement);
    if (!ok) std::cerr << "asehost: cannot write \"" << argument << "\": " << error << "\n";
    return ok;
}

bool WriteOutput(const std::string& argument, const std::string& text) {
    std::string error;
    return WriteOutput(argument, [&](std::FILE* out) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); },
                       error);
}

// What the plug-in's export is asked to write over, checked before anything
// is read: not standard output, not the input itself, and an .ase file
// unless the user insists.
bool CheckOutput(const std::string& input, const std::string& output, bool force) {
    if (output == "-") {
        std::cerr << "asehost: the plug-in writes files only; name an output file instead of \"-\"\n";
        return false;
    }
    const std::u16string in = PathArgument(input);
    const std::u16string out = PathArgument(output);
    if (!FitsHostFileName(output, out)) return false;
    if (force) return true;
    if (in == out || platform::IsSameFile(in.c_str(), out.c_str())) {
        std::cerr << "asehost: the output \"" << output << "\" is the input \"" << input << "\"; --force writes over it\n";
        return false;
    }
    std::u16string extension = out.size() >= 4 ? out.substr(out.size() - 4) : std::u16string();
    for (char16_t& c : extension) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    if (extension != u".ase") {
        std::cerr << "asehost: the output \"" << output << "\" does not end in .ase, but the plug-in writes ASE text; --force writes it anyway\n";
        return false;
    }
    return true;
}

// Why the export's output `path` cannot be written: the plug-in's own text
// for that ("Could not open file for writing.") has no room for the path or
// the reason, so the host looks for them itself.
void ExplainUnwritableOutput(const std::string& argument, const std::u16string& path) {
    platform::FileReplacement probe;
    if (!platform::BeginFileReplacement(path.c_str(), "wb", probe)) {
        std::cerr << "asehost: cannot write \"" << argument << "\": " << FileErrorText(probe.error) << "\n";
    }
    platform::AbandonFileReplacement(probe);
}

}  // namespace asehost

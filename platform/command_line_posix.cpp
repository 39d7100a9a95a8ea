// The command line on POSIX: arguments are bytes.
#include "platform/command_line.h"

#include "platform/utf8.h"

namespace platform {

bool CommandLineArguments(int argc, char** argv, std::vector<std::string>& out) {
    out.assign(argv, argv + argc);
    return true;
}

bool ArgumentToWide(const std::string& argument, std::u16string& out) {
    const size_t units = Utf8ToUtf16(argument.data(), argument.size(), nullptr, 0, Utf8Faults::kCarryBytes);
    out.assign(units + 1, u'\0');
    Utf8ToUtf16(argument.data(), argument.size(), out.data(), out.size(), Utf8Faults::kCarryBytes);
    out.resize(units);
    return true;
}

}  // namespace platform

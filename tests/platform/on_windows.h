// Where Windows legitimately behaves otherwise than the POSIX stand-ins
// (text mode, path form, the C runtime's "C" locale), the tests ask this.
#pragma once

#include <filesystem>

inline bool OnWindows() { return std::filesystem::path::preferred_separator == L'\\'; }

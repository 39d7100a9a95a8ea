// Text helpers of the reference host: DualString assignment and UTF-8 <->
// UTF-16 conversion for JSON, the command line and printing.
#pragma once

#include <string>
#include <string_view>

#include "base/host_api.h"

namespace asehost {

// Sets both parts of `dest`: the wide part cut to 259 units, the narrow part
// its ANSI code page form (cut to fit).
void SetDualString(DualString& dest, const char16_t* text);
void SetDualString(DualString& dest, std::u16string_view text);

// Copies a DualString that may come from the plug-in: both parts are cut at
// their last unit so that they are terminated. A null source empties `dest`.
void CopyDualStringFrom(DualString& dest, const DualString* source);

// The wide part of `text` as a string (up to its terminator or 260 units).
std::u16string WideOf(const DualString& text);

// UTF-8 to UTF-16 (the codec of platform/utf8.h). False, and `out` empty,
// on malformed input.
bool Utf8ToUtf16(std::string_view text, std::u16string& out);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// A command-line argument (from platform::CommandLineArguments) as UTF-16,
// losslessly: a file name the user typed names that file and no other.
std::u16string ArgumentToWide(const std::string& argument);

}  // namespace asehost

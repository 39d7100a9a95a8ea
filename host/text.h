// Text helpers of the reference host: DualString assignment and UTF-8 <->
// UTF-16 conversion for JSON, the command line and printing.
#pragma once

#include <string>
#include <string_view>

#include "plugin/host_api.h"

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

// UTF-8 to UTF-16. False on malformed input (`out` then holds what came
// before the fault).
bool Utf8ToUtf16(std::string_view text, std::u16string& out);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// A command-line argument as UTF-16: UTF-8 when it is valid UTF-8, otherwise
// read in the ANSI code page.
std::u16string ArgumentToWide(const char* argument);

}  // namespace asehost

// Text helpers below the dispatch: the host's DualString, conversions between
// UTF-16 and the ANSI code page, wide formatting and the context getters.
// Everything from the reader to the writers uses these; none of them keeps
// state.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "base/host_api.h"

// Converts a NUL-terminated ANSI text to UTF-16, terminator included.
// Returns the units written, or 0 on failure.
int AnsiToWide(const char* text, char16_t* dest, int capacityUnits);

// Converts a NUL-terminated UTF-16 text to the ANSI code page, terminator
// included; units the code page lacks become '?'. Returns the bytes written,
// or 0 on failure.
int WideToAnsi(const char16_t* text, char* dest, int capacityBytes);

// Formats like the runtime's wide sprintf into `dest` of `capacityUnits`
// units (always terminated). Supports %s (UTF-16 text), %S (narrow text in
// the ANSI code page), %d, %ld, %lld and %f/%.Nf. Returns the units written
// without the terminator.
int FormatWide(char16_t* dest, size_t capacityUnits, const char16_t* format, ...);
int VFormatWide(char16_t* dest, size_t capacityUnits, const char16_t* format, va_list args);

// Assigns a wide text to a DualString: the wide part unit by unit (cut to
// 259 units), the narrow part made from it by the runtime's wcstombs with a
// limit of 260 bytes. The narrow part is always terminated; a text the
// conversion refuses leaves the narrow part empty.
void AssignDualString(DualString* dest, const char16_t* text);

// Assigns a narrow text to a DualString: the narrow part byte by byte (cut to
// 259 bytes), the wide part by the runtime's mbstowcs.
void AssignDualStringNarrow(DualString* dest, const char* text);

// Copies one DualString to another (narrow part first, then wide part);
// nothing happens when both are the same record.
void CopyDualString(DualString* dest, const DualString* source);

// Copies the context's fileName (hostAppName, hostVersion, hostWebsite) into
// `dest` and returns dest's wide text.
const char16_t* GetFileName(const HostContext* context, DualString* dest);
const char16_t* GetHostAppName(const HostContext* context, DualString* dest);
const char16_t* GetHostVersion(const HostContext* context, DualString* dest);
const char16_t* GetHostWebsite(const HostContext* context, DualString* dest);

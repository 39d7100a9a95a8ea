// Helpers shared by the Windows and the POSIX side of the OS seam. Private to
// platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace platform::detail {

// Copies `length` units of `src` into `dst` (capacity `capacity` units,
// terminator included), cutting the text so that it and its terminator fit.
// Does nothing when `dst` is null or `capacity` is 0.
void CopyCut(const char16_t* src, size_t length, char16_t* dst, size_t capacity);
void CopyCut(const char* src, size_t length, char* dst, size_t capacity);

// Broken-down UTC or local time, as the C runtime's struct tm keeps it.
struct CalendarTime {
    int year = 0;     // full year, e.g. 2026
    int month = 0;    // 0..11
    int day = 0;      // 1..31
    int weekday = 0;  // 0..6, Sunday first
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The fields of a C runtime broken-down time.
CalendarTime FromTm(const std::tm& parts);

// Writes `time` in the Microsoft runtime's ctime layout,
// "Www Mmm dd hh:mm:ss yyyy\n" (day of month with a leading zero), and the
// terminator into `out`. A time outside the years 1970..9999 or with a field
// out of range gives an empty text: it has no 24-character form.
void FormatTimeText(const CalendarTime& time, char16_t out[26]);

// True while SetFixedTimeForTesting holds the clock; `seconds` receives the
// fixed time.
bool FixedTime(int64_t& seconds);

// Counts an error box and keeps its text for the test seam.
void RecordErrorBox(const char16_t* text);

}  // namespace platform::detail

// The parts of the OS seam that are the same on every system: cutting texts
// to fit, the ctime layout, the fixed clock and the error box record.
#include "platform/platform_common.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/replace.h"

namespace platform {

namespace {

std::atomic<int64_t> gFixedTime{-1};

std::mutex gErrorBoxMutex;
int gErrorBoxCount = 0;
std::u16string gLastErrorBoxText;

template <typename Char>
void CopyCutImpl(const Char* src, size_t length, Char* dst, size_t capacity) {
    if (dst == nullptr || capacity == 0) return;
    const size_t n = length < capacity - 1 ? length : capacity - 1;
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    dst[n] = 0;
}

// Writes `value` (0..99) as two digits.
char16_t* PutTwoDigits(char16_t* p, int value) {
    *p++ = static_cast<char16_t>(u'0' + value / 10);
    *p++ = static_cast<char16_t>(u'0' + value % 10);
    return p;
}

char16_t* PutText(char16_t* p, const char* text) {
    while (*text != 0) *p++ = static_cast<char16_t>(*text++);
    return p;
}

}  // namespace

size_t WideLength(const char16_t* text) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

void SetFixedTimeForTesting(int64_t seconds) {
    gFixedTime.store(seconds < 0 ? -1 : seconds);
}

int ErrorBoxCountForTesting() {
    std::lock_guard<std::mutex> lock(gErrorBoxMutex);
    return gErrorBoxCount;
}

const char16_t* LastErrorBoxTextForTesting() {
    std::lock_guard<std::mutex> lock(gErrorBoxMutex);
    return gLastErrorBoxText.c_str();
}

namespace detail {

void CopyCut(const char16_t* src, size_t length, char16_t* dst, size_t capacity) {
    CopyCutImpl(src, length, dst, capacity);
}

void CopyCut(const char* src, size_t length, char* dst, size_t capacity) {
    CopyCutImpl(src, length, dst, capacity);
}

CalendarTime FromTm(const std::tm& parts) {
    CalendarTime t;
    // Far years would overflow the addition; FormatTimeText rejects year 0.
    t.year = parts.tm_year >= -1900 && parts.tm_year <= 9999 - 1900 ? parts.tm_year + 1900 : 0;
    t.month = parts.tm_mon;
    t.day = parts.tm_mday;
    t.weekday = parts.tm_wday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    return t;
}

void FormatTimeText(const CalendarTime& t, char16_t out[26]) {
    static const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    out[0] = 0;
    // Anything else would not fit the 24 characters (or index past the
    // name tables).
    if (t.year < 1970 || t.year > 9999 || t.month < 0 || t.month > 11 || t.weekday < 0 ||
        t.weekday > 6 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 60) {
        return;
    }
    char16_t* p = out;
    p = PutText(p, kWeekdays[t.weekday]);
    *p++ = u' ';
    p = PutText(p, kMonths[t.month]);
    *p++ = u' ';
    p = PutTwoDigits(p, t.day);
    *p++ = u' ';
    p = PutTwoDigits(p, t.hour);
    *p++ = u':';
    p = PutTwoDigits(p, t.minute);
    *p++ = u':';
    p = PutTwoDigits(p, t.second);
    *p++ = u' ';
    p = PutTwoDigits(p, t.year / 100);
    p = PutTwoDigits(p, t.year % 100);
    *p++ = u'\n';
    *p = 0;
}

bool FixedTime(int64_t& seconds) {
    seconds = gFixedTime.load();
    return seconds >= 0;
}

void RecordErrorBox(const char16_t* text) {
    std::lock_guard<std::mutex> lock(gErrorBoxMutex);
    ++gErrorBoxCount;
    gLastErrorBoxText = text != nullptr ? text : u"";
}

}  // namespace detail
const char16_t* FileErrorReason(int code) {
    switch (code) {
        case ENOSPC: return u"no space left on the device";
        case EFBIG: return u"the file is too large";
        case EIO: return u"input/output error";
        case EACCES:
        case EPERM: return u"access denied";
        case EROFS: return u"the file system is read-only";
        case EISDIR: return u"a folder of that name exists";
        case ENOENT: return u"no such file or folder";
        case ENOTDIR: return u"a part of the path is not a folder";
        case ENAMETOOLONG: return u"the name is too long";
        case EEXIST: return u"no new name could be made for the temporary file";
#ifdef ELOOP
        case ELOOP: return u"too many levels of symbolic links";
#endif
#ifdef EDQUOT
        case EDQUOT: return u"the disk quota is exhausted";
#endif
        case EMFILE:
        case ENFILE: return u"too many open files";
        case EBUSY: return u"the file is busy";
        default: return nullptr;
    }
}

}  // namespace platform

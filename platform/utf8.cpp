// The one UTF-8 <-> UTF-16 codec of the product, for file names, the command
// line, JSON text and printing. It writes into the caller's buffers and never
// allocates, so that it can run inside an import or export job.
#include "platform/utf8.h"

namespace platform {

namespace {

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Writes units into a caller's buffer, or only counts them when there is
// none; remembers when the buffer ran out.
template <typename Unit>
class Sink {
public:
    Sink(Unit* out, size_t capacity) : out_(out), capacity_(capacity) {}
    void Put(Unit unit) {
        if (out_ != nullptr) {
            if (count_ + 1 >= capacity_) {
                full_ = true;
                return;
            }
            out_[count_] = unit;
        }
        ++count_;
    }
    // Terminates the text; the count, or kConversionFailed when it did not fit.
    size_t Finish() {
        if (out_ == nullptr) return count_;
        if (capacity_ == 0) return kConversionFailed;
        out_[full_ ? capacity_ - 1 : count_] = 0;
        return full_ ? kConversionFailed : count_;
    }
    bool Full() const { return full_; }
    void Fail() {
        if (out_ != nullptr && capacity_ > 0) out_[count_ < capacity_ ? count_ : capacity_ - 1] = 0;
    }

private:
    Unit* out_;
    size_t capacity_;
    size_t count_ = 0;
    bool full_ = false;
};

// The code point of the well-formed sequence at `s[i]` and its length in
// bytes, or 0 when the sequence there is malformed. `surrogates` accepts the
// three-byte forms of U+D800..U+DFFF.
size_t DecodeOne(const unsigned char* s, size_t n, size_t i, bool surrogates, char32_t& code) {
    const unsigned char lead = s[i];
    size_t extra = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        code = lead & 0x1F;
        extra = 1;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        code = lead & 0x0F;
        extra = 2;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        code = lead & 0x07;
        extra = 3;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (n - i - 1 < extra) return 0;
    for (size_t k = 1; k <= extra; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (s[i + k] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF) return 0;
    if (code >= 0xD800 && code <= 0xDFFF && !surrogates) return 0;
    return extra + 1;
}

template <typename Unit>
void PutUtf8(Sink<Unit>& sink, char32_t code) {
    if (code < 0x80) {
        sink.Put(static_cast<Unit>(code));
    } else if (code < 0x800) {
        sink.Put(static_cast<Unit>(0xC0 | (code >> 6)));
        sink.Put(static_cast<Unit>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        sink.Put(static_cast<Unit>(0xE0 | (code >> 12)));
        sink.Put(static_cast<Unit>(0x80 | ((code >> 6) & 0x3F)));
        sink.Put(static_cast<Unit>(0x80 | (code & 0x3F)));
    } else {
        sink.Put(static_cast<Unit>(0xF0 | (code >> 18)));
        sink.Put(static_cast<Unit>(0x80 | ((code >> 12) & 0x3F)));
        sink.Put(static_cast<Unit>(0x80 | ((code >> 6) & 0x3F)));
        sink.Put(static_cast<Unit>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

size_t Utf8ToUtf16(const char* text, size_t length, char16_t* out, size_t capacity, Utf8Faults faults) {
    Sink<char16_t> sink(out, capacity);
    if (text == nullptr) length = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length && !sink.Full();) {
        char32_t code = 0;
        const size_t used = DecodeOne(s, length, i, faults == Utf8Faults::kCarrySurrogates, code);
        if (used == 0) {
            switch (faults) {
                case Utf8Faults::kRefuse:
                case Utf8Faults::kCarrySurrogates:
                    sink.Fail();
                    return kConversionFailed;
                case Utf8Faults::kReplace:
                    sink.Put(0xFFFD);
                    break;
                case Utf8Faults::kCarryBytes:
                    // Only bytes from 0x80 up can be malformed.
                    sink.Put(static_cast<char16_t>(0xDC00 + s[i]));
                    break;
            }
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            sink.Put(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            sink.Put(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            sink.Put(static_cast<char16_t>(code));
        }
        i += used;
    }
    return sink.Finish();
}

size_t Utf16ToUtf8(const char16_t* text, size_t length, char* out, size_t capacity, Utf8Faults faults) {
    Sink<char> sink(out, capacity);
    if (text == nullptr) length = 0;
    for (size_t i = 0; i < length && !sink.Full(); ++i) {
        char32_t code = text[i];
        if (IsHighSurrogate(code) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(code) || IsLowSurrogate(code)) {
            switch (faults) {
                case Utf8Faults::kRefuse:
                    sink.Fail();
                    return kConversionFailed;
                case Utf8Faults::kReplace:
                    code = 0xFFFD;
                    break;
                case Utf8Faults::kCarryBytes:
                    if (code < 0xDC80 || code > 0xDCFF) {
                        sink.Fail();
                        return kConversionFailed;
                    }
                    sink.Put(static_cast<char>(code - 0xDC00));
                    continue;
                case Utf8Faults::kCarrySurrogates:
                    break;  // written in its three-byte form
            }
        }
        PutUtf8(sink, code);
    }
    return sink.Finish();
}

}  // namespace platform

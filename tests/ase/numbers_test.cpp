// "%d" and "%f" reading checked against the C library's sscanf under the
// "C" locale: values bit for bit (NaN by kind and sign) and the characters
// taken, on hand-picked and random inputs.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "test_support.h"

namespace {

struct IntResult {
    bool ok;
    int32_t value;
    long used;
};

struct FloatResult {
    bool ok;
    float value;
    long used;
};

IntResult ReferenceInt(const std::string& text) {
    int value = 0;
    int used = 0;
    const bool ok = std::sscanf(text.c_str(), "%d%n", &value, &used) == 1;
    return {ok, ok ? value : 0, ok ? used : 0};
}

IntResult FastInt(const std::string& text) {
    const char* p = text.c_str();
    int32_t value = 0;
    const bool ok = ReadInt(p, text.c_str() + text.size(), value);
    return {ok, ok ? value : 0, ok ? static_cast<long>(p - text.c_str()) : 0};
}

FloatResult ReferenceFloat(const std::string& text) {
    float value = 0;
    int used = 0;
    const bool ok = std::sscanf(text.c_str(), "%f%n", &value, &used) == 1;
    return {ok, ok ? value : 0.0f, ok ? used : 0};
}

FloatResult FastFloat(const std::string& text) {
    const char* p = text.c_str();
    float value = 0;
    const bool ok = ReadFloat(p, text.c_str() + text.size(), value);
    return {ok, ok ? value : 0.0f, ok ? static_cast<long>(p - text.c_str()) : 0};
}

uint32_t Bits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

void ExpectSameFloat(const std::string& text) {
    const FloatResult expected = ReferenceFloat(text);
    const FloatResult actual = FastFloat(text);
    ASSERT_EQ(actual.ok, expected.ok) << '"' << text << '"';
    ASSERT_EQ(actual.used, expected.used) << '"' << text << '"';
    if (std::isnan(expected.value)) {
        ASSERT_TRUE(std::isnan(actual.value)) << text;
        ASSERT_EQ(std::signbit(actual.value), std::signbit(expected.value)) << text;
    } else {
        ASSERT_EQ(Bits(actual.value), Bits(expected.value)) << '"' << text << '"';
    }
}

void ExpectSameInt(const std::string& text) {
    const IntResult expected = ReferenceInt(text);
    const IntResult actual = FastInt(text);
    ASSERT_EQ(actual.ok, expected.ok) << '"' << text << '"';
    ASSERT_EQ(actual.used, expected.used) << '"' << text << '"';
    ASSERT_EQ(actual.value, expected.value) << '"' << text << '"';
}

// The reader stores what glibc's scanner stores. Other C libraries differ
// on the edges (32-bit saturation, hexadecimal forms without digits), so
// the edge-case comparisons run only where the C library is that
// reference; well-formed numbers are compared everywhere.
bool CLibraryIsTheReference() {
    int value = 0;
    float real = 0;
    int used = 0;
    const bool wraps = std::sscanf("2147483648", "%d", &value) == 1 && value == INT32_MIN;
    const bool hexPrefix = std::sscanf("0x.p1", "%f%n", &real, &used) == 1 && used == 3;
    return wraps && hexPrefix;
}

#define SKIP_UNLESS_REFERENCE_SCANNER()                                                       \
    if (!CLibraryIsTheReference()) GTEST_SKIP() << "this C library's scanner differs from the " \
                                                   "reference on edge cases"

const char* const kHandPickedFloats[] = {
    "0", "-0", "+0", "30.5", "1e", "1e+", "1e-x", "100ergs", "1e5e3", "1.5.3", ".", "-.", "+", "-", "- 5", ".5",
    "5.", "+.5e3", "inf", "-INF", "infinity", "InFiNiTy", "infinit", "infx", "in", "nan", "-nan", "NaN(abc)", "nan(",
    "na", "0x", "-0x", "0xg", "0x1p", "0x1P-3x", "0x.p1", "0x.8", "0x1.8p1", "0x1e", "0X1Ap+2", "00x5", "0e", "0.0e0",
    "1e39", "-1e39", "3.4028235e38", "3.4028236e38", "3.40282357e38", "1e-46", "7e-46", "1e-45", "1e-40", "1e999",
    "-1e999", "1e-999", "1e99999999999999999999", "0.000000000000000000000000000000000000000000001e46",
    "123456789012345678901234567890", "0.1", "16777217", "1.00000005960464477539062500001", "  \t\v\f\r\n 2.5",
    "0x1p-150", "0x1p-149", "0x1.fffffep127", "0x1.ffffffp127", "9" "." "99999999", "-10.0000", "\t0.5000\t0.2500"};

TEST(NumberReading, FloatsMatchTheCLibraryOnHandPickedText) {
    SKIP_UNLESS_REFERENCE_SCANNER();
    for (const char* text : kHandPickedFloats) ExpectSameFloat(text);
}

TEST(NumberReading, IntsMatchTheCLibraryOnHandPickedText) {
    SKIP_UNLESS_REFERENCE_SCANNER();
    const char* const texts[] = {"0", "-0", "+5", "+-1", "-", "30.5", " \v\f7", "2147483647", "2147483648",
                                 "-2147483648", "-2147483649", "4294967296", "4294967297", "9223372036854775807",
                                 "9223372036854775808", "-9223372036854775809", "99999999999999999999999",
                                 "-99999999999999999999999", "12abc", "x12", "00012", ""};
    for (const char* text : texts) ExpectSameInt(text);
}

std::string RandomNumberText(std::mt19937& random) {
    static const char kAlphabet[] = "0123456789012345678901234567890123456789+-..eEeExXpPaAbBfFiInNtTyY() \t";
    std::string text;
    const int length = 1 + static_cast<int>(random() % 14);
    for (int i = 0; i < length; ++i) text.push_back(kAlphabet[random() % (sizeof kAlphabet - 1)]);
    return text;
}

TEST(NumberReading, FloatsMatchTheCLibraryOnRandomText) {
    SKIP_UNLESS_REFERENCE_SCANNER();
    std::mt19937 random(2024);
    for (int round = 0; round < 200000; ++round) ExpectSameFloat(RandomNumberText(random));
}

TEST(NumberReading, FloatsMatchTheCLibraryOnRandomWellFormedNumbers) {
    std::mt19937 random(99);
    char text[64];
    for (int round = 0; round < 100000; ++round) {
        const unsigned mantissa = random();
        const int exponent = static_cast<int>(random() % 90) - 55;
        std::snprintf(text, sizeof text, "%s%u.%ue%d", random() % 2 ? "-" : "", mantissa % 100000,
                      static_cast<unsigned>(random()), exponent);
        ExpectSameFloat(text);
    }
}

// The short form digits[.digits] that files are made of, at every digit
// count and point position, around the exactness limit 2^24 and followed by
// the characters that would extend it into a longer form.
TEST(NumberReading, PlainDecimalsMatchTheCLibraryAtEveryLengthAndPointPosition) {
    std::mt19937 random(31);
    const char* const tails[] = {"", " 1", "\t", "e", "E5", "x", ".5", "..", "0"};
    auto check = [&](uint64_t mantissa, int digits, int point, bool negative, const char* tail) {
        char padded[32];
        std::snprintf(padded, sizeof padded, "%0*llu", digits, static_cast<unsigned long long>(mantissa));
        const int whole = digits - point;
        char text[64];
        std::snprintf(text, sizeof text, "%s%.*s%s%s%s", negative ? "-" : "", whole, padded, point > 0 ? "." : "",
                      padded + whole, tail);
        ExpectSameFloat(text);
    };
    for (int round = 0; round < 60000; ++round) {
        const int digits = 1 + static_cast<int>(random() % 11);
        uint64_t limit = 1;
        for (int d = 0; d < digits; ++d) limit *= 10;
        const uint64_t mantissa = (uint64_t{random()} << 32 | random()) % limit;
        check(mantissa, digits, static_cast<int>(random() % static_cast<unsigned>(digits)), random() % 2 != 0,
              tails[random() % (sizeof tails / sizeof tails[0])]);
    }
    for (uint64_t mantissa = 16777200; mantissa < 16777240; ++mantissa) {
        for (int point = 0; point < 8; ++point) {
            for (const char* tail : tails) check(mantissa, 8, point, point % 2 != 0, tail);
        }
    }
}

TEST(NumberReading, IntsMatchTheCLibraryOnRandomText) {
    SKIP_UNLESS_REFERENCE_SCANNER();
    std::mt19937 random(77);
    static const char kAlphabet[] = "012345678901234567890123456789+- x.";
    for (int round = 0; round < 100000; ++round) {
        std::string text;
        const int length = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) text.push_back(kAlphabet[random() % (sizeof kAlphabet - 1)]);
        ExpectSameInt(text);
    }
}

TEST(NumberReading, WordsAreCutAtTheirLimit) {
    const std::string text = "  label123 next";
    const char* p = text.c_str();
    std::string_view word;
    ASSERT_TRUE(ReadWord(p, text.c_str() + text.size(), 5, word));
    EXPECT_EQ(word, "label");
    int32_t value = 0;
    ASSERT_TRUE(ReadInt(p, text.c_str() + text.size(), value));
    EXPECT_EQ(value, 123);
}

// The process locale must not change how numbers are read.
TEST(NumberReading, IgnoresACommaDecimalLocale) {
    const char* const candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"};
    const char* chosen = nullptr;
    for (const char* name : candidates) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) GTEST_SKIP() << "no locale with a comma decimal point is installed";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const FloatResult half = FastFloat("1.5 2,5");
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(half.ok);
    EXPECT_EQ(half.value, 1.5f);
    EXPECT_EQ(half.used, 3);
    // A whole document reads the same under that locale.
    std::setlocale(LC_ALL, chosen);
    const int result = asetest::Parse("*SCENE {\n*SCENE_FRAMESPEED 25\n}\n*GEOMOBJECT {\n*NODE_TM {\n"
                                      "*TM_ROW3 1.25 -2.5 3.75\n}\n}\n");
    const Mat4 tm = asetest::Doc().geomObjects != nullptr ? asetest::Doc().geomObjects[0].worldTm : Mat4Identity();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(tm.m[12], 1.25f);
    EXPECT_EQ(tm.m[13], -2.5f);
    EXPECT_EQ(tm.m[14], 3.75f);
    asetest::ResetAll();
}

}  // namespace

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

// The reader's and the C library's reading of each type.
bool Ours(const char*& p, const char* end, float& v) { return ReadFloat(p, end, v); }
bool Ours(const char*& p, const char* end, int32_t& v) { return ReadInt(p, end, v); }
bool Theirs(const char* text, float& v, int& used) { return std::sscanf(text, "%f%n", &v, &used) == 1; }
bool Theirs(const char* text, int32_t& v, int& used) { return std::sscanf(text, "%d%n", &v, &used) == 1; }

// Expects both to agree on success, characters taken and value.
template <class T>
void ExpectSame(const std::string& text) {
    T actual{}, expected{};
    int used = 0;
    const char* p = text.c_str();
    const bool ok = Ours(p, p + text.size(), actual);
    ASSERT_EQ(ok, Theirs(text.c_str(), expected, used)) << '"' << text << '"';
    if (!ok) return;
    ASSERT_EQ(p - text.c_str(), used) << '"' << text << '"';
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual) && std::signbit(actual) == std::signbit(expected)) << text;
    } else {
        EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << '"' << text << "\" gives " << actual;
    }
}

// The reader stores what glibc's scanner stores. Other C libraries differ
// on the edges (32-bit saturation, hexadecimal forms without digits), so
// the edge-case comparisons run only where the C library is that
// reference; well-formed numbers are compared everywhere.
bool CLibraryIsTheReference() {
    int32_t value = 0;
    float real = 0;
    int used = 0;
    return Theirs("2147483648", value, used) && value == INT32_MIN && Theirs("0x.p1", real, used) && used == 3;
}

#define SKIP_UNLESS_REFERENCE_SCANNER() \
    if (!CLibraryIsTheReference()) GTEST_SKIP() << "this C library's scanner differs from the reference on edge cases"

TEST(NumberReading, MatchesTheCLibraryOnHandPickedAndRandomText) {
    SKIP_UNLESS_REFERENCE_SCANNER();
    const char* const floats[] = {
        "0", "-0", "+0", "30.5", "1e", "1e+", "1e-x", "100ergs", "1e5e3", "1.5.3", ".", "-.", "+", "-", "- 5", ".5",
        "5.", "+.5e3", "inf", "-INF", "infinity", "InFiNiTy", "infinit", "infx", "in", "nan", "-nan", "NaN(abc)",
        "nan(", "na", "0x", "-0x", "0xg", "0x1p", "0x1P-3x", "0x.p1", "0x.8", "0x1.8p1", "0x1e", "0X1Ap+2", "00x5",
        "0e", "0.0e0", "1e39", "-1e39", "3.4028235e38", "3.4028236e38", "3.40282357e38", "1e-46", "7e-46", "1e-45",
        "1e-40", "1e999", "-1e999", "1e-999", "1e99999999999999999999",
        "0.000000000000000000000000000000000000000000001e46", "123456789012345678901234567890", "0.1", "16777217",
        "1.00000005960464477539062500001", "  \t\v\f\r\n 2.5", "0x1p-150", "0x1p-149", "0x1.fffffep127",
        "0x1.ffffffp127", "9.99999999", "-10.0000", "\t0.5000\t0.2500"};
    const char* const ints[] = {"0", "-0", "+5", "+-1", "-", "30.5", " \v\f7", "2147483647", "2147483648",
                                "-2147483648", "-2147483649", "4294967296", "4294967297", "9223372036854775807",
                                "9223372036854775808", "-9223372036854775809", "99999999999999999999999",
                                "-99999999999999999999999", "12abc", "x12", "00012", ""};
    for (const char* text : floats) ExpectSame<float>(text);
    for (const char* text : ints) ExpectSame<int32_t>(text);
    std::mt19937 random(2024);
    auto text = [&](std::string_view alphabet, int maxLength) {
        std::string t(1 + random() % maxLength, ' ');
        for (char& c : t) c = alphabet[random() % alphabet.size()];
        return t;
    };
    for (int round = 0; round < 200000; ++round) {
        ExpectSame<float>(text("0123456789012345678901234567890123456789+-..eEeExXpPaAbBfFiInNtTyY() \t", 14));
    }
    for (int round = 0; round < 100000; ++round) ExpectSame<int32_t>(text("012345678901234567890123456789+- x.", 24));
}

// Well-formed numbers as files hold them, digits[.digits], at every digit
// count and point position, around the exactness limit 2^24, with random
// exponents or followed by the characters that would extend them.
TEST(NumberReading, WellFormedDecimalsMatchTheCLibraryAtEveryLengthAndPointPosition) {
    std::mt19937 random(31);
    const char* const tails[] = {"", " 1", "\t", "e", "E5", "x", ".5", "..", "0"};
    auto check = [&](uint64_t mantissa, int digits, int point, bool negative, const std::string& tail) {
        char padded[32];
        std::snprintf(padded, sizeof padded, "%0*llu", digits, static_cast<unsigned long long>(mantissa));
        const std::string all = padded;
        const size_t whole = static_cast<size_t>(digits - point);
        // Appended: mingw's g++ 12 sees a false overlap in "-" + std::string(...).
        std::string text = negative ? "-" : "";
        ExpectSame<float>(text.append(all, 0, whole).append(point > 0 ? "." : "").append(all, whole).append(tail));
    };
    for (int round = 0; round < 120000; ++round) {
        const int digits = 1 + static_cast<int>(random() % 15);
        uint64_t limit = 1;
        for (int d = 0; d < digits; ++d) limit *= 10;
        const uint64_t mantissa = (uint64_t{random()} << 32 | random()) % limit;
        const int point = static_cast<int>(random() % static_cast<unsigned>(digits));
        const bool negative = random() % 2 != 0;
        const int exponent = static_cast<int>(random() % 90) - 55;
        check(mantissa, digits, point, negative,
              round % 2 ? tails[random() % std::size(tails)] : std::string("e").append(std::to_string(exponent)));
    }
    for (uint64_t mantissa = 16777200; mantissa < 16777240; ++mantissa) {
        for (int point = 0; point < 8; ++point) {
            for (const char* tail : tails) check(mantissa, 8, point, point % 2 != 0, tail);
        }
    }
}

// The process locale must not change how a document's numbers are read
// (scripts/deps.sh makes a comma locale where none is installed).
TEST(NumberReading, IgnoresACommaDecimalLocale) {
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE", "German_Germany.1252"}) {
        if (!comma && std::setlocale(LC_ALL, name) != nullptr)
            comma = std::strcmp(std::localeconv()->decimal_point, ",") == 0;
    }
    if (!comma) {
        std::setlocale(LC_ALL, "C");
        GTEST_SKIP() << "no locale with a comma decimal point is installed";
    }
    const int result = asetest::Parse("*GEOMOBJECT {\n*NODE_TM {\n*TM_ROW3 1.25 -2.5 3.75\n}\n}\n");
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(result, 1);
    asetest::ExpectAll(
        {ASE_OBJ_EQ(worldTm.m[12], 1.25), ASE_OBJ_EQ(worldTm.m[13], -2.5), ASE_OBJ_EQ(worldTm.m[14], 3.75)});
    asetest::ResetAll();
}

}  // namespace

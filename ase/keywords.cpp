// Keyword lookup: the upper-cased first word hashed into a small
// open-addressed table built at compile time, then one comparison.
#include <cstring>

#include "ase/reader_internal.h"

namespace {

constexpr std::string_view kKeywordTexts[] = {
    "",
#define ASE_KEYWORD_TEXT(name, text) text,
    ASE_KEYWORDS(ASE_KEYWORD_TEXT)
#undef ASE_KEYWORD_TEXT
};

constexpr size_t kKeywordCount = sizeof kKeywordTexts / sizeof kKeywordTexts[0];
static_assert(kKeywordCount == static_cast<size_t>(Kw::kCount));

constexpr size_t kTableSize = 512;  // power of two, under a quarter full
constexpr size_t kTableMask = kTableSize - 1;

constexpr size_t LongestKeyword() {
    size_t longest = 0;
    for (std::string_view text : kKeywordTexts) longest = text.size() > longest ? text.size() : longest;
    return longest;
}
constexpr size_t kLongestKeyword = LongestKeyword();

// FNV-1a over bytes that are already upper case.
constexpr uint32_t Hash(const char* bytes, size_t length) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= 16777619u;
    }
    return h;
}

struct KeywordTable {
    uint8_t slot[kTableSize];  // keyword index, 0 = empty
};

constexpr KeywordTable BuildTable() {
    KeywordTable table{};
    for (size_t k = 1; k < kKeywordCount; ++k) {
        size_t h = Hash(kKeywordTexts[k].data(), kKeywordTexts[k].size()) & kTableMask;
        while (table.slot[h] != 0) h = (h + 1) & kTableMask;
        table.slot[h] = static_cast<uint8_t>(k);
    }
    return table;
}

constexpr KeywordTable kTable = BuildTable();

}  // namespace

Kw LookupKeyword(std::string_view word) {
    const size_t length = word.size();
    if (length == 0 || length > kLongestKeyword) return Kw::kUnknown;
    // Every keyword starts with '*' except the lone closing brace.
    if (word[0] != '*' && word[0] != '}') return Kw::kUnknown;
    char upper[kLongestKeyword];
    for (size_t i = 0; i < length; ++i) upper[i] = static_cast<char>(AsciiUpper(static_cast<unsigned char>(word[i])));
    size_t h = Hash(upper, length) & kTableMask;
    while (uint8_t k = kTable.slot[h]) {
        const std::string_view text = kKeywordTexts[k];
        if (text.size() == length && std::memcmp(text.data(), upper, length) == 0) return static_cast<Kw>(k);
        h = (h + 1) & kTableMask;
    }
    return Kw::kUnknown;
}

std::string_view KeywordText(Kw keyword) {
    const size_t k = static_cast<size_t>(keyword);
    return k < kKeywordCount ? kKeywordTexts[k] : std::string_view();
}

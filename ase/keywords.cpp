// Keyword lookup: the first word upper-cased eight bytes at a time, hashed
// into a small open-addressed table built at compile time, then compared
// lane by lane.
#include <bit>
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

// A word of up to 32 bytes, zero-padded, as four 64-bit lanes.
struct Lanes {
    uint64_t w[4];
};

constexpr uint64_t kOnes = 0x0101010101010101ull;

// Upper-cases the ASCII letters of eight bytes at once.
constexpr uint64_t UpperLane(uint64_t x) {
    const uint64_t low7 = x & (0x7F * kOnes);
    const uint64_t atLeastA = low7 + (0x80 - 'a') * kOnes;
    const uint64_t aboveZ = low7 + (0x80 - 'z' - 1) * kOnes;
    const uint64_t isLower = atLeastA & ~aboveZ & ~x & (0x80 * kOnes);
    return x - (isLower >> 2);
}

constexpr Lanes UpperLanes(const char* bytes, size_t length) {
    Lanes lanes{};
    for (size_t i = 0; i < length; ++i) {
        lanes.w[i / 8] |= uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * (i % 8));
    }
    for (uint64_t& w : lanes.w) w = UpperLane(w);
    return lanes;
}

constexpr size_t Slot(const Lanes& lanes, size_t length) {
    uint64_t h = (lanes.w[0] * 0x9E3779B97F4A7C15ull) ^ (lanes.w[1] * 0xC2B2AE3D27D4EB4Full) ^
                 (lanes.w[2] * 0x165667B19E3779F9ull) ^ (lanes.w[3] * 0x27D4EB2F165667C5ull) ^ length;
    h ^= h >> 29;
    return static_cast<size_t>((h * 0x94D049BB133111EBull) >> 55) & kTableMask;
}

struct KeywordTable {
    uint8_t slot[kTableSize];  // keyword index, 0 = empty
    Lanes key[kKeywordCount];  // upper-cased, zero-padded texts
};

constexpr KeywordTable BuildTable() {
    KeywordTable table{};
    for (size_t k = 1; k < kKeywordCount; ++k) {
        table.key[k] = UpperLanes(kKeywordTexts[k].data(), kKeywordTexts[k].size());
        size_t h = Slot(table.key[k], kKeywordTexts[k].size());
        while (table.slot[h] != 0) h = (h + 1) & kTableMask;
        table.slot[h] = static_cast<uint8_t>(k);
    }
    return table;
}

constexpr KeywordTable kTable = BuildTable();
static_assert(kLongestKeyword <= 32);
// The lanes of a looked-up word are loaded with memcpy in memory order.
static_assert(std::endian::native == std::endian::little);

}  // namespace

Kw LookupKeywordPadded(const char* word, size_t length) {
    if (length == 0 || length > kLongestKeyword) return Kw::kUnknown;
    // Every keyword starts with '*' except the lone closing brace.
    if (word[0] != '*' && word[0] != '}') return Kw::kUnknown;
    Lanes lanes;
    for (size_t i = 0; i < 4; ++i) {
        uint64_t raw;
        std::memcpy(&raw, word + 8 * i, sizeof raw);
        const size_t valid = length > 8 * i ? length - 8 * i : 0;
        const uint64_t mask = valid >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * valid)) - 1;
        lanes.w[i] = UpperLane(raw & mask);
    }
    size_t h = Slot(lanes, length);
    while (uint8_t k = kTable.slot[h]) {
        const Lanes& key = kTable.key[k];
        if (kKeywordTexts[k].size() == length && key.w[0] == lanes.w[0] && key.w[1] == lanes.w[1] &&
            key.w[2] == lanes.w[2] && key.w[3] == lanes.w[3]) {
            return static_cast<Kw>(k);
        }
        h = (h + 1) & kTableMask;
    }
    return Kw::kUnknown;
}

Kw LookupKeyword(std::string_view word) {
    if (word.empty() || word.size() > kLongestKeyword) return Kw::kUnknown;
    char padded[32] = {};
    std::memcpy(padded, word.data(), word.size());
    return LookupKeywordPadded(padded, word.size());
}

std::string_view KeywordText(Kw keyword) {
    const size_t k = static_cast<size_t>(keyword);
    return k < kKeywordCount ? kKeywordTexts[k] : std::string_view();
}

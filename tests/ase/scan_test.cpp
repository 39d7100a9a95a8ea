// Line scanner, first word, quoted text, keyword lookup and block stack,
// checked against plain reference implementations.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The line reader as the format describes it, byte by byte into a buffer.
struct ReferenceReader {
    const std::string& bytes;
    size_t position = 0;

    int ReadLine(std::vector<char>& dest) {
        const size_t capacity = dest.size();
        size_t n = 0;
        auto isEnd = [](char c) { return c == '\r' || c == '\n'; };
        if (position >= bytes.size()) {
            dest[0] = '\0';
            return 0;
        }
        const char c1 = bytes[position++];
        if (position >= bytes.size()) {
            if (!isEnd(c1)) dest[n++] = c1;
            dest[n] = '\0';
            return 1;
        }
        const char c2 = bytes[position++];
        if (!isEnd(c1)) dest[n++] = c1;
        if (!isEnd(c2)) dest[n++] = c2;
        if (!isEnd(c2)) {
            while (position < bytes.size()) {
                const char c = bytes[position++];
                if (isEnd(c)) break;
                if (n < capacity - 1) dest[n++] = c;
            }
        }
        dest[n] = '\0';
        return 1;
    }
};

struct ScannedLine {
    std::string text;
    bool opens;
    bool closes;
    std::string word;
    bool operator==(const ScannedLine&) const = default;
};

// Reference: every line with its NUL-cut text, brace flags and "%511s" word,
// keeping only lines that hold at least one byte.
std::vector<ScannedLine> ReferenceLines(const std::string& bytes) {
    ReferenceReader reader{bytes};
    std::vector<char> buffer(bytes.size() + 1026);
    std::vector<ScannedLine> lines;
    while (reader.ReadLine(buffer)) {
        std::string text(buffer.data());
        if (text.empty()) continue;
        std::vector<char> word(512, '\0');
        std::sscanf(buffer.data(), "%511s", word.data());
        lines.push_back({text, text.find('{') != std::string::npos, text.find('}') != std::string::npos,
                         std::string(word.data())});
    }
    return lines;
}

std::vector<ScannedLine> FastLines(const std::string& bytes) {
    AseSource source = {};
    EXPECT_EQ(MakeAseSource(source, bytes.data(), bytes.size()), 1);
    std::vector<ScannedLine> lines;
    AseLine line;
    while (NextLine(source, line)) {
        std::string text(line.text, line.length);
        if (text.empty()) continue;
        ScanFirstWord(line);
        lines.push_back({text, line.opens, line.closes, std::string(line.Word())});
    }
    ReleaseAseSource(source);
    return lines;
}

std::vector<std::string> Texts(const std::string& bytes) {
    std::vector<std::string> texts;
    for (const ScannedLine& line : FastLines(bytes)) texts.push_back(line.text);
    return texts;
}

TEST(LineScanner, SplitsAtCarriageReturnLineFeedAndBoth) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Texts(std::string("ab\r\ncd", 6)), (V{"ab", "cd"}));
    EXPECT_EQ(Texts("ab\n\ncd"), (V{"ab", "cd"}));
    EXPECT_EQ(Texts("ab\r\n\r\ncd"), (V{"ab", "cd"}));
    EXPECT_EQ(Texts("ab\rcd\r"), (V{"ab", "cd"}));
    EXPECT_EQ(Texts("x"), (V{"x"}));
    EXPECT_EQ(Texts("x\n"), (V{"x"}));
    EXPECT_TRUE(Texts("").empty());
}

TEST(LineScanner, NulEndsTheLineTextButNotTheLine) {
    const std::string bytes("ab\0{cd\nef}", 10);
    const auto lines = FastLines(bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "ab");
    EXPECT_FALSE(lines[0].opens);
    EXPECT_EQ(lines[1].text, "ef}");
    EXPECT_TRUE(lines[1].closes);
}

TEST(LineScanner, MatchesReferenceOnRandomBytes) {
    std::mt19937 random(12345);
    const char alphabet[] = {'a', ' ', '\t', '\r', '\n', '{', '}', '\0', '*', '\v', '\f', '"', 'Z'};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i) bytes.push_back(alphabet[random() % sizeof alphabet]);
        // Long runs cross the 16-byte vector steps.
        if (round % 7 == 0) bytes.insert(random() % (bytes.size() + 1), std::string(random() % 70, 'q'));
        ASSERT_EQ(FastLines(bytes), ReferenceLines(bytes)) << "round " << round;
    }
}

TEST(LineScanner, FirstWordIsCutAt511Bytes) {
    const std::string word(600, 'K');
    const auto lines = FastLines("  \v" + word + " tail");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].word, std::string(511, 'K'));
}

TEST(LineScanner, MeasuresTheLongestLineWithItsTerminator) {
    AseSource source = {};
    ASSERT_EQ(MakeAseSource(source, "", 0), 1);
    EXPECT_EQ(MeasureLongestLine(source), 1025);
    const std::string longLine = std::string(3000, 'x') + "\nshort\n";
    ASSERT_EQ(MakeAseSource(source, longLine.data(), longLine.size()), 1);
    EXPECT_EQ(MeasureLongestLine(source), 3002);
    EXPECT_EQ(source.position, 0u);
    ReleaseAseSource(source);
}

AseLine LineOf(AseSource& source, const std::string& text) {
    MakeAseSource(source, text.data(), text.size());
    AseLine line;
    NextLine(source, line);
    return line;
}

TEST(QuotedText, TakesTheFirstQuotedTextCutAt255) {
    AseSource source = {};
    char dest[kAseNameBytes] = "unchanged";
    ReadQuotedString(dest, LineOf(source, "*NODE_NAME no quotes"));
    EXPECT_STREQ(dest, "unchanged");
    ReadQuotedString(dest, LineOf(source, "*NODE_NAME \"Box 01\" \"second\""));
    EXPECT_STREQ(dest, "Box 01");
    ReadQuotedString(dest, LineOf(source, "*NODE_NAME \"open to the end "));
    EXPECT_STREQ(dest, "open to the end ");
    ReadQuotedString(dest, LineOf(source, "*NODE_NAME \"" + std::string(400, 'n') + "\""));
    EXPECT_EQ(std::strlen(dest), 255u);
    ReleaseAseSource(source);
}

TEST(Keywords, LookupIgnoresCaseAndMatchesWholeWords) {
    for (int k = 1; k < static_cast<int>(Kw::kCount); ++k) {
        const Kw keyword = static_cast<Kw>(k);
        std::string text(KeywordText(keyword));
        EXPECT_EQ(LookupKeyword(text), keyword) << text;
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(LookupKeyword(text), keyword) << text;
        EXPECT_EQ(LookupKeyword(text + "X"), Kw::kUnknown);
    }
    EXPECT_EQ(LookupKeyword("*Mesh_NumVertex"), Kw::kMeshNumVertex);
    EXPECT_EQ(LookupKeyword("*MESH_VERTE"), Kw::kUnknown);
    EXPECT_EQ(LookupKeyword("MESH_VERTEX"), Kw::kUnknown);
    EXPECT_EQ(LookupKeyword("*COMMENT"), Kw::kUnknown);
    EXPECT_EQ(LookupKeyword("}"), Kw::kCloseBrace);
    // Bytes above 127 are not folded.
    EXPECT_EQ(LookupKeyword("*MESH\xC9"), Kw::kUnknown);
}

TEST(Keywords, RandomWordsAgreeWithALinearSearch) {
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string word(KeywordText(static_cast<Kw>(1 + random() % (static_cast<int>(Kw::kCount) - 1))));
        // Flip case, cut, or change one byte.
        for (char& c : word) {
            if (random() % 3 == 0) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (random() % 4 == 0 && !word.empty()) word[random() % word.size()] = static_cast<char>('A' + random() % 30);
        if (random() % 5 == 0) word.resize(random() % (word.size() + 1));
        Kw expected = Kw::kUnknown;
        for (int k = 1; k < static_cast<int>(Kw::kCount); ++k) {
            if (EqualNoCase(word, KeywordText(static_cast<Kw>(k)))) expected = static_cast<Kw>(k);
        }
        ASSERT_EQ(LookupKeyword(word), expected) << word;
    }
}

// The first pass filters words before looking them up; its counts must be
// those of looking up every line's word. Lines mix every keyword in random
// case with near misses of the same length and words cut by a NUL.
TEST(Keywords, CountingPassAgreesWithLookingUpEveryLine) {
    std::mt19937 random(5);
    using namespace std::string_view_literals;
    const std::string_view extras[] = {"*GEOMOBJECTS"sv,      "*GEOMOBJEC"sv,        "*GEXMOBJECT"sv,
                                       "*LIGHTOBJECt"sv,      "*CAMERAOBJECT\0X"sv, "*MATERIAL_COUNt 7"sv,
                                       "*MATERIAL_COUNT x"sv, "*MESH_TVERT"sv,       "*MESH_VERTEX"sv};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        int32_t geom = 0, lights = 0, cameras = 0, materials = 0;
        for (int n = 0; n < 40; ++n) {
            std::string line;
            if (random() % 3 == 0) {
                line = extras[random() % (sizeof extras / sizeof extras[0])];
            } else {
                line = std::string(KeywordText(static_cast<Kw>(1 + random() % (static_cast<int>(Kw::kCount) - 1))));
                for (char& c : line) {
                    if (random() % 2 == 0) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                line.append(" ").append(std::to_string(random() % 100));
            }
            std::string indented(random() % 3, '\t');
            indented.append(line);
            line = indented;
            text.append(line).append(random() % 2 ? "\r\n" : "\n");
            // What looking up the line's word gives.
            AseLine scanned = {};
            // The scanner reads vectors past the line, as a source's padding allows.
            const std::string cut(line.c_str());
            std::string padded(cut);
            padded.append(kSourcePadding, '\n');
            scanned.text = padded.c_str();
            scanned.length = static_cast<uint32_t>(cut.size());
            if (!FindFirstWord(scanned)) continue;
            const Kw keyword = LookupKeyword(scanned.Word());
            int32_t value = 0;
            if (keyword == Kw::kGeomObject) ++geom;
            if (keyword == Kw::kLightObject) ++lights;
            if (keyword == Kw::kCameraObject) ++cameras;
            if (keyword == Kw::kMaterialCount && ReadLineInt(scanned, value)) materials = value;
        }
        asetest::ResetAll();
        AseSource source = {};
        ASSERT_EQ(MakeAseSource(source, text.data(), text.size()), 1);
        ASSERT_EQ(CountObjects(source), 1);
        const AseDocument& doc = TheDocument();
        EXPECT_EQ(doc.countedGeomObjects, geom) << text;
        EXPECT_EQ(doc.countedLights, lights) << text;
        EXPECT_EQ(doc.countedCameras, cameras) << text;
        EXPECT_EQ(doc.declaredMaterialCount, materials) << text;
        ReleaseAseSource(source);
        asetest::ResetAll();
    }
}

TEST(BlockStack, PopsNamesInReverseAndCutsThemAt255) {
    BlockStack stack;
    char dest[kAseNameBytes] = {};
    EXPECT_FALSE(stack.Pop(dest));
    EXPECT_STREQ(dest, "");
    ASSERT_TRUE(stack.Push("*MESH"));
    ASSERT_TRUE(stack.Push(std::string(300, 'n')));
    EXPECT_TRUE(stack.Pop(dest));
    EXPECT_EQ(std::string(dest), std::string(255, 'n'));
    EXPECT_TRUE(stack.PopMatches("*mesh"));
    EXPECT_EQ(stack.Depth(), 0u);
    stack.Clear();
}

TEST(BlockStack, MemoryFollowsTheNamesHeld) {
    BlockStack stack;
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(stack.Push("{"));
    // One byte per name plus one offset, rounded up by doubling.
    EXPECT_LT(stack.CapacityBytes(), 1000000u);
    stack.Clear();
    EXPECT_EQ(stack.CapacityBytes(), 0u);
}

}  // namespace

// The scene's JSON form beyond the round trip: the streaming parser against
// nlohmann-json's, keys in any order, -0, file entry points and their
// failures, memory of a padded text, floods of records and of corners
// against the memory bound, and allocation failures.
//
// This executable replaces operator new so that a test can count the bytes
// allocated and make the nth allocation fail.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/json/json_events.h"
#include "host/store/scene.h"
#include "host/json/scene_json.h"
#include "host/json/scene_keys.h"

#include "tests/host/replaced_new.h"
#include "tests/test_files.h"

namespace {

// Every allocation counted while active; live and peak bytes kept; from the
// failAt-th on (1 = the next; 0 = none) allocations fail.
struct AllocationWatch {
    bool active = false;
    long failAt = 0;
    long count = 0;
    size_t live = 0;
    size_t peak = 0;
};
AllocationWatch watch;

constexpr size_t kHeader = 16;

// Arms the watch for one scope: counts from zero, peak relative to now.
class Watching {
public:
    explicit Watching(long failAt = 0) {
        watch.count = 0;
        watch.failAt = failAt;
        watch.peak = watch.live;
        base_ = watch.live;
        watch.active = true;
    }
    ~Watching() { watch.active = false; }
    size_t PeakAbove() const { return watch.peak - base_; }

private:
    size_t base_;
};

}  // namespace

void* ReplacedNew(size_t size) noexcept {
    if (watch.active && ++watch.count >= watch.failAt && watch.failAt != 0) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    watch.live += size;
    if (watch.live > watch.peak) watch.peak = watch.live;
    return block + kHeader;
}

void ReplacedDelete(void* pointer) noexcept {
    if (!pointer) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    watch.live -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

namespace {

using asehost::HostScene;

std::string ReadDataFile(const char* name) { return testfiles::ReadFile(testfiles::Data(std::string("host/") + name)); }

std::filesystem::path TempPath(const char* name) {
    return std::filesystem::temp_directory_path() / (std::string("asehost_json_") + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name);
}

// --- The parser against nlohmann-json's -------------------------------------------

// Writes every event as a line; the same text for both parsers means the
// same events with the same values.
struct Recorder {
    std::string log;
    void Put(const std::string& line) { log += line + "\n"; }
    bool null() { return Put("null"), true; }
    bool boolean(bool value) { return Put(value ? "true" : "false"), true; }
    bool number_integer(int64_t value) { return Put("int " + std::to_string(value)), true; }
    bool number_unsigned(uint64_t value) { return Put("uint " + std::to_string(value)), true; }
    bool number_float(float value, std::string_view) {
        char text[48];
        std::snprintf(text, sizeof text, "float %a%s", static_cast<double>(value), std::signbit(value) ? " neg" : "");
        return Put(text), true;
    }
    bool string(std::string_view value) { return Put("string " + std::string(value)), true; }
    bool binary(std::vector<std::uint8_t>&) { return Put("binary"), true; }
    bool start_object(size_t) { return Put("{"), true; }
    bool key(std::string_view value) { return Put("key " + std::string(value)), true; }
    bool end_object() { return Put("}"), true; }
    bool start_array(size_t) { return Put("["), true; }
    bool end_array() { return Put("]"), true; }
    bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) { return false; }
};

using FloatJson = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;

struct Outcome { bool accepted; std::string log; };

Outcome Reference(const std::string& text) {
    Recorder recorder;
    const bool accepted = FloatJson::sax_parse(text, &recorder);
    return {accepted, recorder.log};
}

// The text through a file read in chunks of `chunk` bytes (0: in memory).
Outcome Ours(const std::string& text, size_t chunk) {
    Recorder recorder;
    asehost::JsonSyntaxError error;
    if (chunk == 0) {
        asehost::JsonSource source(text);
        const bool accepted = asehost::ParseJson(source, recorder, error);
        return {accepted, recorder.log};
    }
    std::FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    asehost::JsonSource source(file, chunk);
    const bool accepted = asehost::ParseJson(source, recorder, error);
    std::fclose(file);
    return {accepted, recorder.log};
}

void ExpectSameAsReference(const std::string& text) {
    SCOPED_TRACE(text.size() < 200 ? text : text.substr(0, 200) + "...");
    const Outcome expected = Reference(text);
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{4096}}) {
        const Outcome got = Ours(text, chunk);
        ASSERT_EQ(got.accepted, expected.accepted) << "chunk " << chunk;
        if (expected.accepted) {
            ASSERT_EQ(got.log, expected.log) << "chunk " << chunk;
        }
    }
}

TEST(SceneJsonParser, GivesNlohmannJsonsEventsForEdgeCasesAtEveryChunkSize) {
    const char* const cases[] = {
        "0", "-0", "-0.0", "1e-50", "-1e-50", "1e39", "3.4028235e38", "3.4028236e38", "1e-45", "0.1e-44", "1.5E+3",
        "18446744073709551615", "18446744073709551616", "9223372036854775807", "-9223372036854775808",
        "-9223372036854775809", "0.000000000000000000000000000000000000000000000000000001", "123456789012345678901234567890",
        "01", "1.", ".5", "1e", "1e+", "-", "+1", "--1", "1.5.5", "0x10", "Infinity", "NaN",
        // A point without digits inside a document, where the in-place path
        // reads numbers, is no number either.
        "[1.]", "[-1.,0]", "{\"a\":1.}", "[0.,1]",
        R"("")", R"("a\"b\\c\/d\b\f\n\r\t")", R"("\u00e9\u20ac\ud83d\ude00")", R"("\ud83d")", R"("\ude00")", R"("\ud83dx")",
        R"("\u12")", R"("\x")", "\"a\tb\"", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"", "\"\xc0\x80\"", "\"\xed\xa0\x80\"",
        "\"\xf4\x90\x80\x80\"", "\"\xe2\x82\"", "\"\xff\"", "\"unterminated",
        "true", "false", "null", "tru", "nul", "truex",
        "[]", "{}", "[[[]]]", "[1,2,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{1:2}", "{\"a\":}", "[1 2]", "{\"a\":1 \"b\":2}",
        " \t\r\n[ 1 , {\"k\" : [ null ] } ] \n", "[1] x", "", " ", "[", "{", "]", "\xef\xbb\xbf{}",
    };
    for (const char* text : cases) ExpectSameAsReference(text);
    ExpectSameAsReference(std::string("[") + std::string(3000, '[') + std::string(3001, ']'));
    ExpectSameAsReference(ReadDataFile("rich_scene.json"));
}

// Random damage to a real scene text.
TEST(SceneJsonParser, AgreesWithNlohmannJsonOnDamagedScenes) {
    const std::string rich = ReadDataFile("rich_scene.json");
    const std::string alphabet = "{}[],:\"\\0123456789-+.eE \n\tnulltruefalse\xc3\xa9\xff";
    std::mt19937 random(12345);
    for (int round = 0; round < 600; ++round) {
        std::string text = rich;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % text.size();
            switch (random() % 3) {
            case 0: text[at] = alphabet[random() % alphabet.size()]; break;
            case 1: text.erase(at, 1 + random() % 4); break;
            default: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
            }
        }
        const Outcome expected = Reference(text);
        const Outcome got = Ours(text, 5);
        ASSERT_EQ(got.accepted, expected.accepted) << text;
        if (expected.accepted) {
            ASSERT_EQ(got.log, expected.log);
        }
    }
}

// Decimals as the writer writes them (no exponent, up to 15 digits) are read
// in place with a division; every one must still be the float nearest to it,
// and so must the longer ones that go the general way. The float midpoints
// and decimals a hair beyond them, which a second rounding would send the
// wrong way, are the sharpest cases.
TEST(SceneJsonParser, ReadsDecimalsAsTheNearestFloat) {
    std::mt19937_64 random(2024);
    std::string text = "[";
    auto add = [&](const std::string& number) { text += (text.size() > 1 ? "," : "") + number; };
    // `scaled` / 10^decimals as JSON writes it.
    auto decimal = [](uint64_t scaled, size_t decimals) {
        std::string digits = std::to_string(scaled);
        if (digits.size() <= decimals) digits = std::string(decimals + 1 - digits.size(), '0') + digits;
        const size_t point = digits.size() - decimals;
        return decimals == 0 ? digits : digits.substr(0, point) + "." + digits.substr(point);
    };
    for (int k = 0; k < 20000; ++k) {
        const size_t length = 1 + random() % 18;
        uint64_t limit = 1;
        for (size_t d = 0; d < length; ++d) limit *= 10;
        std::string number = random() % 2 ? "-" : "";
        number += decimal(random() % limit, random() % (length + 1));
        add(number);
    }
    // Midpoints between the floats from 2^20 (ulp 1/8) and from 2^24 (ulp 2),
    // exact in four decimals, and the 15- to 18-digit decimals next to them.
    for (int k = 0; k < 2000; ++k) {
        const float low = std::ldexp(1.0f + static_cast<float>(random() % (1 << 23)) * 0x1p-23f, k % 2 ? 20 : 24);
        const double midpoint = (static_cast<double>(low) + std::nextafter(low, 2 * low)) / 2;
        const auto scaled = static_cast<uint64_t>(std::llround(midpoint * 1e4));
        add(decimal(scaled, 4));
        for (const size_t total : {15, 16, 18}) {
            const size_t more = total - std::to_string(scaled).size();
            uint64_t longer = scaled;
            for (size_t d = 0; d < more; ++d) longer *= 10;
            add(decimal(longer + 1, 4 + more));
            add(decimal(longer - 1, 4 + more));
        }
    }
    // Decimals of 17 and 18 digits a few units from a midpoint, which a
    // mantissa rounded to double before the division reads the wrong way.
    for (const char* number : {"1965.26788330078126", "1.59278076887130736", "1.74940603971481324"}) add(number);
    // Decimals of 15 digits (read in place) that are no midpoint but whose
    // quotient rounds to one: converting the double again would round them
    // to the even float, the wrong side.
    for (const char* number : {"0.521570235490799", "0.833265095949173", "0.367203488945961", "5.32966160774231"}) add(number);
    text += "]";
    ExpectSameAsReference(text);
}

// --- The scene -----------------------------------------------------------------

// The keys of nlohmann-json's default object come out sorted, so the UV
// store follows the faces and the vertices follow everything that names
// them: the checks that need another list wait for the end.
TEST(HostSceneJson, KeysInAnyOrderGiveTheSameScene) {
    const std::string text = ReadDataFile("rich_scene.json");
    const std::string sorted = nlohmann::json::parse(text).dump();
    ASSERT_LT(sorted.find("\"faceGroups\""), sorted.find("\"uvStore\""));
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(sorted, error)) << error;
    EXPECT_EQ(scene.saveJson(), text);
}

// --- The one list of keys --------------------------------------------------------

using asehost::SceneKey;
using asehost::SceneObject;

// Where a record of each kind of object sits in a scene of one record per
// list, as a message names it, and the scene with `member` inside it.
struct Place {
    SceneObject owner;
    const char* path;
    const char* before;
    const char* after;
};
constexpr Place kPlaces[] = {
    {SceneObject::kScene, "", "{", "}"},
    {SceneObject::kMaterial, "materials[0]", R"({"materials":[{)", "}]}"},
    {SceneObject::kTexture, "materials[0].textures[0]", R"({"materials":[{"textures":[{)", "}]}]}"},
    {SceneObject::kVertex, "vertices[0]", R"({"vertices":[{)", "}]}"},
    {SceneObject::kObject, "objects[0]", R"({"objects":[{)", "}]}"},
    {SceneObject::kFaceGroup, "faceGroups[0]", R"({"faceGroups":[{)", "}]}"},
    {SceneObject::kFace, "faceGroups[0].faces[0]", R"({"faceGroups":[{"faces":[{)", "}]}]}"},
    {SceneObject::kFaceUvChannel, "faceGroups[0].faces[0].uvChannels[0]", R"({"faceGroups":[{"faces":[{"uvChannels":[{)", "}]}]}]}"},
    {SceneObject::kBone, "bones[0]", R"({"bones":[{)", "}]}"},
    {SceneObject::kAnimation, "animations[0]", R"({"animations":[{)", "}]}"},
    {SceneObject::kTrack, "animations[0].tracks[0]", R"({"animations":[{"tracks":[{)", "}]}]}"},
};
static_assert(std::size(kPlaces) == static_cast<size_t>(SceneObject::kCount));

bool OwnsText(SceneObject owner, std::string_view text) {
    for (const auto& key : asehost::kSceneKeys) {
        if (key.owner == owner && key.text == text) return true;
    }
    return false;
}

// Every key of the list reaches its own object's handler, which names it
// when its value is of no kind a member takes (an object); in every other
// kind of object that has no key of that text it is unknown.
TEST(HostSceneJson, EveryKeyIsReadByNameInItsOwnObjectOnly) {
    for (const auto& key : asehost::kSceneKeys) {
        const std::string text(key.text);
        for (const Place& place : kPlaces) {
            SCOPED_TRACE(text + " in " + (*place.path ? place.path : "the scene"));
            HostScene scene;
            std::string error;
            ASSERT_FALSE(scene.loadJson(std::string(place.before) + "\"" + text + "\":{}" + place.after, error));
            const std::string where = *place.path ? place.path : "scene";
            if (place.owner == key.owner) {
                const std::string path = (*place.path ? where + "." : "") + text;
                EXPECT_EQ(error.rfind(path + ": expected ", 0), 0u) << error;
            } else if (!OwnsText(place.owner, key.text)) {
                EXPECT_EQ(error.rfind(where + ": unknown key \"" + text + "\"", 0), 0u) << error;
            }
        }
    }
}

// The writer writes each object's keys in the list's order, every key of
// the kind but a texture's (whose kind decides between a path and layers),
// so that the reader's guess of the next key holds for a saved scene.
TEST(HostSceneJson, TheWriterFollowsTheListOfKeys) {
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(ReadDataFile("rich_scene.json"), error)) << error;
    const auto saved = nlohmann::ordered_json::parse(scene.saveJson());
    int objects = 0;
    auto expect = [&](const nlohmann::ordered_json& object, SceneObject owner) {
        ++objects;
        std::vector<std::string> want;
        for (const auto& key : asehost::kSceneKeys) {
            if (key.owner == owner) want.emplace_back(key.text);
        }
        std::vector<std::string> got;
        for (const auto& item : object.items()) got.push_back(item.key());
        if (owner == SceneObject::kTexture) {
            std::erase_if(want, [&](const std::string& k) { return !object.contains(k); });
            EXPECT_GE(got.size(), 4u);
        }
        EXPECT_EQ(got, want);
    };
    expect(saved, SceneObject::kScene);
    for (const auto& material : saved["materials"]) {
        expect(material, SceneObject::kMaterial);
        for (const auto& texture : material["textures"]) expect(texture, SceneObject::kTexture);
    }
    for (const auto& vertex : saved["vertices"]) expect(vertex, SceneObject::kVertex);
    for (const auto& object : saved["objects"]) expect(object, SceneObject::kObject);
    for (const auto& group : saved["faceGroups"]) {
        expect(group, SceneObject::kFaceGroup);
        for (const auto& face : group["faces"]) {
            expect(face, SceneObject::kFace);
            for (const auto& channel : face["uvChannels"]) expect(channel, SceneObject::kFaceUvChannel);
        }
    }
    for (const auto& bone : saved["bones"]) expect(bone, SceneObject::kBone);
    for (const auto& animation : saved["animations"]) {
        expect(animation, SceneObject::kAnimation);
        for (const auto& track : animation["tracks"]) expect(track, SceneObject::kTrack);
    }
    // One record of each kind at least, two textures.
    EXPECT_GE(objects, static_cast<int>(SceneObject::kCount) + 1);
}

// A group's faces are gathered in lists that the next group reuses: a
// smaller group after a larger one holds its own faces, corners and UVs only.
TEST(HostSceneJson, EachFaceGroupHoldsOnlyItsOwnFaces) {
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{},{},{},{},{}],"faceGroups":[
        {"faces":[{"vertexIndices":[0,1,2,3],"uvChannels":[{"cornerUvs":[[0,0],[1,0],[1,1],[0,1]]},{}]},
                  {"smoothingGroup":3,"vertexIndices":[1,2,3]}]},
        {"faces":[{"vertexIndices":[4,3,2],"uvChannels":[{"cornerUvs":[[0.5,0.5],[0.25,0],[0,0.25]]},{}]}]},
        {"faces":[]}]})", error)) << error;
    const HostContext* c = scene.context();
    ASSERT_EQ(c->faceGroupCount, 3);
    EXPECT_EQ(c->faceGroups[2].faceCount, 0);
    ASSERT_EQ(c->faceGroups[1].faceCount, 1);
    const HostFace& face = c->faceGroups[1].faces[0];
    EXPECT_EQ(face.smoothingGroup, 0);
    ASSERT_EQ(face.cornerCount, 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(face.vertexIndices[k], 4 - k);
    EXPECT_EQ(face.uvData->channels[0].cornerUvs[0].u, 0.5f);
    EXPECT_EQ(face.uvData->channels[0].cornerUvs[2].v, 0.25f);
}

// -0 is written so that it reads back as a float -0, not as the integer 0;
// "-0" itself (an integer in JSON) is +0.
TEST(HostSceneJson, NegativeZeroSurvivesTheRoundTrip) {
    HostScene scene, again;
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{"position":[-0.0,0,-0],"normal":[1e-50,-1e-50,0]}]})", error)) << error;
    const std::string saved = scene.saveJson();
    EXPECT_NE(saved.find("\"position\":[-0.0,0,0]"), std::string::npos) << saved;
    ASSERT_TRUE(again.loadJson(saved, error)) << error;
    EXPECT_EQ(again.saveJson(), saved);
    for (const HostScene* loaded : {&scene, &again}) {
        const HostVertex& vertex = loaded->context()->vertices[0];
        EXPECT_TRUE(std::signbit(vertex.position[0]));
        EXPECT_FALSE(std::signbit(vertex.position[2]));
        EXPECT_TRUE(std::signbit(vertex.normal[1]));
    }
}

// A scene with every kind of record and awkward values (escapes, 1/3, NaN,
// a subnormal, -inf) read from a file is written back as the same text, so
// every value came back exactly; the file entry points report failures.
TEST(HostSceneJson, FilesRoundTripExactlyAndEntryPointsReportOpenReadAndWriteFailures) {
    const std::string rich = ReadDataFile("rich_scene.json");
    const std::filesystem::path path = TempPath("scene.json");
    testfiles::WriteFile(path, rich);
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(HostScene().saveJson(), error)) << error;  // an empty scene too
    ASSERT_TRUE(scene.loadJsonFile(path.u16string().c_str(), error)) << error;
    EXPECT_EQ(scene.saveJson(), rich);
    HostMaterial* material = &scene.context()->materials[0];
    EXPECT_STREQ(material->name.narrow, "brick \"\xe9\"\t\\");
    HostTexture* color = material->ops->GetTexture(material, kTextureChannelColor);
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(std::u16string(LayeredTextureOf(color)->layers[1].path), u"b.tga");

    EXPECT_FALSE(scene.loadJsonFile((path.u16string() + u".missing").c_str(), error));
    EXPECT_EQ(error, "cannot open");
    EXPECT_EQ(scene.context()->vertexCount, 0);

    // A file open for writing only cannot be read, one open for reading
    // only cannot be written.
    ASSERT_TRUE(scene.loadJsonFile(path.u16string().c_str(), error)) << error;
    std::FILE* writeOnly = std::fopen(TempPath("out.json").string().c_str(), "wb");
    ASSERT_NE(writeOnly, nullptr);
    HostScene other;
    EXPECT_FALSE(other.loadJson(writeOnly, error));
    // Where the C runtime flags the failed read (glibc does, msvcrt sees an
    // empty file) the message says so.
    const char* expected = std::ferror(writeOnly) ? "read failed at byte 0" : "at byte 0";
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    std::FILE* readOnly = std::fopen(path.string().c_str(), "rb");
    EXPECT_FALSE(scene.writeJson(readOnly, error));
    EXPECT_EQ(error, "write failed");
    std::fclose(readOnly);
    std::fclose(writeOnly);
    std::filesystem::remove(path);
    std::filesystem::remove(TempPath("out.json"));
}

// 64 MiB of blanks between the records: the load holds its read buffer and
// the records, not the text.
TEST(HostSceneJson, APaddedTextLoadsInLittleMemory) {
    const std::filesystem::path path = TempPath("padded.json");
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const std::string blanks(1 << 20, ' ');
    std::fputs(R"({"vertices":[)", out);
    for (int k = 0; k < 64; ++k) {
        std::fputs(k ? ",{}" : "{}", out);
        std::fwrite(blanks.data(), 1, blanks.size(), out);
    }
    std::fputs("]}", out);
    ASSERT_EQ(std::fclose(out), 0);

    HostScene scene;
    std::string error;
    size_t peak = 0;
    {
        Watching watching;
        ASSERT_TRUE(scene.loadJsonFile(path.u16string().c_str(), error)) << error;
        peak = watching.PeakAbove();
    }
    std::filesystem::remove(path);
    EXPECT_EQ(scene.context()->vertexCount, 64);
    EXPECT_LT(peak, size_t{2} << 20) << "bytes at the peak of the load";
}

// Three bytes of text make a named record of hundreds of bytes: a flood of
// them fails once the records outgrow the text by the stated ratio, while
// the same records with real content load.
TEST(HostSceneJson, AFloodOfEmptyRecordsFailsInsteadOfGrowing) {
    std::string flood = R"({"objects":[{})";
    for (int k = 0; k < 400000; ++k) flood += ",{}";
    flood += "]}";
    HostScene scene;
    std::string error;
    EXPECT_FALSE(scene.loadJson(flood, error));
    EXPECT_NE(error.find("bytes of memory per byte of its text"), std::string::npos) << error;
    EXPECT_NE(error.find("objects["), std::string::npos) << error;
    EXPECT_EQ(scene.context()->objectCount, 0);

    std::string named = R"({"objects":[)";
    for (int k = 0; k < 20000; ++k) named += std::string(k ? "," : "") + R"({"name":"object number )" + std::to_string(k) + R"(","faceCount":0,"materialRefs":[]})";
    named += "]}";
    ASSERT_TRUE(scene.loadJson(named, error)) << error;
    EXPECT_EQ(scene.context()->objectCount, 20000);
}

// What a load and the triangulation an export makes after it hold at once,
// at most: the peak through operator new, plus the face stores (which come
// from elsewhere) after the load and after triangulation, which builds the
// new groups beside the old ones.
struct Measured {
    bool loaded = false;
    std::string error;
    size_t peak = 0;
};

Measured LoadAndTriangulate(HostScene& scene, const std::string& text) {
    Measured measured;
    Watching watching;
    measured.loaded = scene.loadJson(text, measured.error);
    const size_t loadedStores = scene.faceStoreBytes();
    if (measured.loaded) {
        HostContext* context = scene.context();
        EXPECT_EQ(context->ops->TriangulateScene(context), 1);
    }
    measured.peak = watching.PeakAbove() + loadedStores + scene.faceStoreBytes();
    return measured;
}

size_t Bound(size_t textBytes) { return asehost::kJsonBytesPerTextByte * textBytes + asehost::kJsonMemoryAllowance; }

// Two bytes of text ("0,") make a corner, which becomes a triangle of
// hundreds of bytes when the face is triangulated. A flood of them fails at
// the corner that crosses the bound, naming it, before any store is made;
// the same flood cut before that corner loads, and it and its triangles
// stay within the bound; an n-gon too large for the allowance alone loads
// on the strength of its text.
TEST(HostSceneJson, ACornerFloodFailsAtItsCornerAndWhatLoadsStaysWithinTheBound) {
    const std::string head = R"({"vertices":[{}],"faceGroups":[{"faces":[{"vertexIndices":[)";
    auto flood = [&](size_t corners) {
        std::string text = head;
        for (size_t k = 0; k < corners; ++k) text += k ? ",0" : "0";
        return text + "]}]}]}";
    };
    const std::string path = "faceGroups[0].faces[0].vertexIndices[";
    HostScene scene;
    const Measured failed = LoadAndTriangulate(scene, flood(3000000));
    ASSERT_FALSE(failed.loaded);
    ASSERT_EQ(failed.error.rfind(path, 0), 0u) << failed.error;
    EXPECT_NE(failed.error.find("bytes of memory per byte of its text"), std::string::npos) << failed.error;
    const size_t corner = std::stoul(failed.error.substr(path.size()));
    const size_t at = failed.error.find("(at byte ");
    ASSERT_NE(at, std::string::npos) << failed.error;
    EXPECT_EQ(std::stoull(failed.error.substr(at + 9)), head.size() + 2 * corner) << failed.error;
    EXPECT_EQ(scene.context()->faceGroupCount, 0);
    // Only the list of corner indices was held: no store of their slots.
    EXPECT_LT(failed.peak, 16 * corner) << "bytes at the peak of the failed load";

    const std::string cut = flood(corner);
    const Measured loaded = LoadAndTriangulate(scene, cut);
    ASSERT_TRUE(loaded.loaded) << loaded.error;
    EXPECT_EQ(scene.context()->faceGroups[0].faceCount, static_cast<int>(corner) - 2);
    EXPECT_LE(loaded.peak, Bound(cut.size())) << "bytes at the peak for " << cut.size() << " bytes of text";

    const int corners = 300000;
    std::string ngon = R"({"vertices":[)";
    // Appended piece by piece: a temporary of const char* + string trips
    // mingw g++ 12's -Wrestrict at -O3.
    for (int k = 0; k < corners; ++k) {
        ngon += k ? ",{\"position\":[" : "{\"position\":[";
        ngon += std::to_string(k);
        ngon += ",0.5,-2]}";
    }
    ngon += R"(],"faceGroups":[{"faces":[{"smoothingGroup":1,"vertexIndices":[)";
    for (int k = 0; k < corners; ++k) {
        if (k) ngon += ',';
        ngon += std::to_string(k);
    }
    ngon += "]}]}]}";
    const Measured large = LoadAndTriangulate(scene, ngon);
    ASSERT_TRUE(large.loaded) << large.error;
    EXPECT_LE(large.peak, Bound(ngon.size()));
    const HostFaceGroup& group = scene.context()->faceGroups[0];
    ASSERT_EQ(group.faceCount, corners - 2);
    for (const int t : {0, 1000, corners - 3}) {
        const HostFace& triangle = group.faces[t];
        EXPECT_EQ(triangle.smoothingGroup, 1);
        EXPECT_EQ(triangle.vertexIndices[0], 0);
        EXPECT_EQ(triangle.vertexIndices[1], t + 1);
        EXPECT_EQ(triangle.vertexIndices[2], t + 2);
    }
}

// Failing each allocation of a load, then of a write, in turn: every failure
// is a false with the message (and, for a load, an empty scene), never an
// exception, until one run succeeds.
TEST(HostSceneJson, EveryAllocationFailureOfALoadOrAWriteIsReported) {
    const std::string rich = ReadDataFile("rich_scene.json");
    HostScene loaded;
    std::string error;
    ASSERT_TRUE(loaded.loadJson(rich, error)) << error;
    for (const bool write : {false, true}) {
        long n = 1;
        for (;; ++n) {
            ASSERT_LT(n, 100000);
            HostScene scene;
            std::FILE* file = std::tmpfile();
            bool done = false;
            {
                Watching watching(n);
                done = write ? loaded.writeJson(file, error) : scene.loadJson(rich, error);
            }
            std::fclose(file);
            if (done) break;
            ASSERT_EQ(error, "out of memory") << (write ? "write" : "load") << ", allocation " << n;
            ASSERT_EQ(scene.context()->vertexCount, 0);
            ASSERT_EQ(scene.context()->materials, nullptr);
        }
        EXPECT_GT(n - 1, write ? 0 : 20) << "failed allocations";
    }
}

}  // namespace

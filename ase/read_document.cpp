// The reader: the read in one pass or in two (the counting pass, then the
// parse), the scene, material, object, light and camera blocks, the ids.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>

#include "ase/reader_internal.h"
#include "base/strings.h"

namespace {

// A cheap filter before the keyword lookup of the first pass: the length
// and the two letters after '*' of *GEOMOBJECT, *LIGHTOBJECT, *CAMERAOBJECT,
// *HELPEROBJECT and *MATERIAL_COUNT.
bool MayBeCountedWord(const AseLine& line) {
    if (line.wordLength < 11 || line.word[0] != '*') return false;
    const unsigned char a = AsciiUpper(static_cast<unsigned char>(line.word[1]));
    const unsigned char b = AsciiUpper(static_cast<unsigned char>(line.word[2]));
    switch (line.wordLength) {
        case 11: return a == 'G' && b == 'E';
        case 12: return a == 'L' && b == 'I';
        case 13: return (a == 'C' && b == 'A') || (a == 'H' && b == 'E');
        case 15: return a == 'M' && b == 'A';
        default: return false;
    }
}

// True when the '*' at `star` may begin a counted first word: the two
// letters after it start one of them and only C spaces stand between it and
// the start of its line. `star` lies inside a source buffer, so the two
// bytes after it are readable.
bool MayStartCountedWord(const char* data, const char* star) {
    if (!MayStartCountedKeyword(star)) return false;
    for (const char* p = star; p > data;) {
        const char c = *--p;
        if (c == '\r' || c == '\n') return true;
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f') return false;
    }
    return true;
}

// Counts the keyword of the line that starts at the source's position when
// it is one the first pass counts; leaves the position after the line. An
// object, light or camera line is charged to the budget of the whole file
// as it comes, so that a failure can name the line that went beyond it.
void CountLine(AseReader& source, AseDocument& doc) {
    const uint64_t at = uint64_t{source.base} + source.position;
    AseLine line;
    if (!NextLine(source, line) || !FindFirstWord(line) || !MayBeCountedWord(line)) return;
    size_t bytes = 0;
    switch (LookupKeywordPadded(line.word, line.wordLength)) {
        case Kw::kMaterialCount: {
            int32_t count = 0;
            if (ReadLineInt(line, count)) {
                doc.declaredMaterialCount = count;
                source.materialCountRemaining = RemainingBytes(source);
                source.materialCountAt = at;
            }
            break;
        }
        case Kw::kGeomObject: ++doc.countedGeomObjects, bytes = kCountedGeomObjectBytes; break;
        case Kw::kHelperObject: ++doc.countedHelpers, bytes = kCountedGeomObjectBytes; break;
        case Kw::kLightObject: ++doc.countedLights, bytes = kCountedLightBytes; break;
        case Kw::kCameraObject: ++doc.countedCameras, bytes = kCountedCameraBytes; break;
        default: break;
    }
    if (bytes == 0 || source.countedOverBudget) return;
    if (!BelieveDeclaredCount(source, source.fileSize, 1, bytes)) {
        source.countedOverBudget = true;
        source.overBudgetAt = at;
    }
}

}  // namespace

int CountObjects(AseReader& source) {
    if (source.data == nullptr) return 0;
    AseDocument& doc = (*source.doc);
    source.materialCountRemaining = 0;
    source.countedOverBudget = false;
    // The text in blocks of 64 bytes, each marked by its stars at once: only
    // a '*' that starts a line's first word with the right letters has its
    // line split and looked up.
    for (;;) {
        const char* data = source.data;
        // Of a window with more to read, only the lines up to its last line
        // end are whole; the next window starts after it.
        uint32_t limit = source.size;
        if (MoreToRead(source)) {
            while (limit > 0 && data[limit - 1] != '\r' && data[limit - 1] != '\n') --limit;
        }
        for (uint32_t base = 0; base < limit; base += 64) {
            uint64_t ends = 0;
            uint64_t stars = 0;
            MarkLineEndsAndStars(data + base, ends, stars);
            if (limit - base < 64) stars &= (uint64_t{1} << (limit - base)) - 1;
            for (; stars != 0; stars &= stars - 1) {
                const uint32_t at = base + static_cast<uint32_t>(std::countr_zero(stars));
                if (!MayStartCountedWord(data, data + at)) continue;
                uint32_t start = at;
                while (start > 0 && data[start - 1] != '\r' && data[start - 1] != '\n') --start;
                source.position = start;
                CountLine(source, doc);
            }
        }
        if (!MoreToRead(source)) break;
        source.position = limit;
        if (!SlideAseWindow(source, limit)) {
            if (ReadFailed(source)) return 0;
            break;
        }
    }
    source.position = source.size;
    return 1;
}

bool NeedTwoPasses(AseReader& source) {
    ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"the file needs a counting pass");
    return false;
}

bool CountAsRead(AseReader& source, const AseLine& line) {
    AseDocument& doc = *source.doc;
    // Each counted line is charged as the counting pass charges it, against
    // the whole file. The budget is a sum checked as it grows, so charging
    // in the order of the file fails exactly the files that two passes
    // fail; their message, which names the counts, is left to them.
    size_t bytes = 0;
    switch (line.keyword) {
        case Kw::kGeomObject: ++doc.countedGeomObjects, bytes = kCountedGeomObjectBytes; break;
        case Kw::kLightObject: ++doc.countedLights, bytes = kCountedLightBytes; break;
        case Kw::kCameraObject: ++doc.countedCameras, bytes = kCountedCameraBytes; break;
        // A helper is a node record like an object's, with its bone and track.
        case Kw::kHelperObject: ++doc.countedHelpers, bytes = kCountedGeomObjectBytes; break;
        case Kw::kMaterialCount: break;
        default: return true;
    }
    if (bytes != 0) return BelieveDeclaredCount(source, source.fileSize, 1, bytes) || NeedTwoPasses(source);
    int32_t count = 0;
    if (!ReadLineInt(line, count)) return true;
    // Of several count lines the last holds, which only a counting pass
    // knows before the materials are read; so is a count that says a
    // material list already entered should have been passed over.
    if (source.materialCountLines++ > 0) return NeedTwoPasses(source);
    doc.declaredMaterialCount = count;
    source.materialCountRemaining = RemainingBytes(source);
    source.materialCountAt = uint64_t{source.base} + static_cast<uint64_t>(line.text - source.data);
    if (count <= 0) return !source.materialListBeforeCount || NeedTwoPasses(source);
    if (!BelieveDeclaredCount(source, source.materialCountRemaining, count, sizeof(AseMaterial) + kHostMaterialBytes)) {
        return NeedTwoPasses(source);
    }
    if (!AllocateMaterials(doc, count)) return ReaderOutOfMemory(source, line.text) != 0;
    return true;
}

int ParseScene(AseReader& source, std::string_view name) {
    if (name.empty()) return 0;
    int32_t first = 0;
    int32_t last = 30;
    int32_t speed = 30;
    int32_t ticks = 160;
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t* target = nullptr;
        switch (line.keyword) {
            case Kw::kSceneFirstFrame: target = &first; break;
            case Kw::kSceneLastFrame: target = &last; break;
            case Kw::kSceneFrameSpeed: target = &speed; break;
            case Kw::kSceneTicksPerFrame: target = &ticks; break;
            default: break;
        }
        if (line.keyword == Kw::kCloseBrace || line.keyword == Kw::kMaterialList) break;
        if (target != nullptr) {
            int32_t value = 0;
            if (ReadLineInt(line, value)) *target = value;
        }
    }
    if (step == BlockStep::kFail) return 0;
    AseDocument& doc = (*source.doc);
    doc.firstFrame = static_cast<float>(first);
    doc.lastFrame = static_cast<float>(last);
    // The difference of two 32-bit values needs 64 bits.
    doc.frameCount = static_cast<float>(static_cast<int64_t>(last) - first);
    doc.frameSpeed = static_cast<float>(speed);
    doc.ticksPerFrame = static_cast<float>(ticks);
    if (speed == 0) doc.frameSpeed = 30.0f;
    if (ticks == 0) doc.ticksPerFrame = 160.0f;
    if (doc.frameCount <= 0.0f) doc.frameCount = 30.0f;
    return 1;
}

namespace {

// Gives the arrays a read in one pass grows a record for every object,
// helper, light and camera counted so far (their lines were charged when counted).
// 1, or 0 with the failure recorded.
int GrowCountedRecords(AseReader& source) {
    AseDocument& doc = *source.doc;
    if (!GrowGeomObjects(doc, doc.countedGeomObjects) || !GrowHelpers(doc, doc.countedHelpers) ||
        !GrowLights(doc, doc.countedLights) || !GrowCameras(doc, doc.countedCameras)) {
        return ReaderOutOfMemory(source, nullptr);
    }
    return 1;
}

}  // namespace

int ParseTopLevel(AseReader& source) {
    if (source.data == nullptr) return 0;
    source.stack->Clear();
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, std::string_view(), line)) == BlockStep::kLine) {
        int ok = 1;
        // Read in one pass, an object's record comes with its block: the
        // arrays grow only here, between blocks, so that no parser holds a
        // record that growing would move.
        switch (line.keyword) {
            case Kw::kScene: ok = ParseScene(source, line.Word()); break;
            case Kw::kMaterialList: ok = ParseMaterialList(source, line.Word()); break;
            case Kw::kGeomObject:
                ok = (!source.countAsRead || GrowCountedRecords(source)) && ParseGeomObject(source, line.Word());
                break;
            case Kw::kHelperObject:
                ok = (!source.countAsRead || GrowCountedRecords(source)) && ParseHelperObject(source, line.Word());
                break;
            case Kw::kLightObject:
                ok = (!source.countAsRead || GrowCountedRecords(source)) && ParseLight(source, line.Word());
                break;
            case Kw::kCameraObject:
                ok = (!source.countAsRead || GrowCountedRecords(source)) && ParseCamera(source, line.Word());
                break;
            default: break;
        }
        if (!ok) return 0;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int RemapMaterialIds(AseDocument& doc) {
    if (doc.geomObjects == nullptr) return 1;
    // hostBase[r]: host materials made from the materials before r (one per
    // material without sub-materials, else one per sub-material).
    int64_t* hostBase = nullptr;
    if (doc.materials != nullptr && doc.materialCount > 0) {
        if (doc.allocator == nullptr) return 0;
        hostBase = doc.allocator->AllocateArray<int64_t>(static_cast<size_t>(doc.materialCount));
        if (hostBase == nullptr) return 0;
        int64_t sum = 0;
        for (int32_t r = 0; r < doc.materialCount; ++r) {
            hostBase[r] = sum;
            const int32_t subs = doc.materials[r].subMaterialCount;
            sum += subs <= 0 ? 1 : subs;
        }
    }
    for (int32_t o = 0; o < doc.geomObjectCount; ++o) {
        AseGeomObject& object = doc.geomObjects[o];
        if (object.faces == nullptr) continue;
        const int32_t r = object.materialRef;
        const bool named = hostBase != nullptr && r >= 0 && r < doc.materialCount;
        const int64_t base = named ? hostBase[r] : -1;
        const int32_t subs = named ? doc.materials[r].subMaterialCount : 0;
        const int64_t limit = subs < 1 ? 1 : subs;
        for (int32_t f = 0; f < object.faceCount; ++f) {
            int32_t& id = object.faces[f].materialId;
            if (!named) {
                id = -1;
                continue;
            }
            const int64_t host = (id >= 0 && id < limit) ? base + id : base;
            id = host > INT32_MAX ? INT32_MAX : static_cast<int32_t>(host);
        }
    }
    if (hostBase != nullptr) doc.allocator->Free(hostBase);
    return 1;
}

namespace {

// The read in one pass: counts, charges and grows as the lines come, then
// gives every counted object, light and camera its record, as the counting
// pass would have.
int ReadInOnePass(AseReader& source) {
    AseDocument& doc = *source.doc;
    source.countAsRead = true;
    const int parsed = RewindAseSource(source) && ParseTopLevel(source) && !ReadFailed(source);
    source.countAsRead = false;
    if (!parsed) {
        return ReadFailed(source) ? 0 : ReaderFail(source, nullptr, JobErrorKind::kSyntax, nullptr,
                                                    u"the file could not be read");
    }
    if (source.materialListBeforeCount && source.materialCountLines == 0) return NeedTwoPasses(source);
    if (doc.countedGeomObjects == 0) {
        return ReaderFail(source, nullptr, JobErrorKind::kContent, nullptr, u"No geometry found.");
    }
    return GrowCountedRecords(source);
}

// The read in two passes: the counting pass, then the parse into arrays of
// the counted sizes.
int ReadInTwoPasses(AseReader& source) {
    AseDocument& doc = *source.doc;
    if (!RewindAseSource(source) || !CountObjects(source)) return 0;
    if (doc.countedGeomObjects == 0) {
        return ReaderFail(source, nullptr, JobErrorKind::kContent, nullptr, u"No geometry found.");
    }
    // Counted lines run through the whole file, so their bound is the
    // file's (see kCountedGeomObjectBytes); the counting pass charged them.
    if (source.countedOverBudget) {
        char16_t detail[kJobErrorDetailUnits];
        FormatWide(detail, kJobErrorDetailUnits,
                   u"the file holds %d objects, %d helpers, %d lights and %d cameras: more than a file of %lld bytes "
                   u"can describe",
                   doc.countedGeomObjects, doc.countedHelpers, doc.countedLights, doc.countedCameras,
                   static_cast<long long>(source.fileSize));
        return ReaderFailAtOffset(source, source.overBudgetAt, JobErrorKind::kLimit, detail);
    }
    if (doc.declaredMaterialCount > 0) {
        if (!BelieveDeclaredCount(source, source.materialCountRemaining, doc.declaredMaterialCount,
                                  sizeof(AseMaterial) + kHostMaterialBytes)) {
            return FailCountBeyondBound(source, source.materialCountAt, "*MATERIAL_COUNT", doc.declaredMaterialCount);
        }
        if (!AllocateMaterials(doc, doc.declaredMaterialCount)) return ReaderOutOfMemory(source, nullptr);
    }
    if (!AllocateGeomObjects(doc, doc.countedGeomObjects)) return ReaderOutOfMemory(source, nullptr);
    if (doc.countedLights > 0 && !AllocateLights(doc, doc.countedLights)) return ReaderOutOfMemory(source, nullptr);
    if (doc.countedCameras > 0 && !AllocateCameras(doc, doc.countedCameras)) return ReaderOutOfMemory(source, nullptr);
    if (doc.countedHelpers > 0 && !AllocateHelpers(doc, doc.countedHelpers)) return ReaderOutOfMemory(source, nullptr);

    doc.nextGeomObject = doc.nextMaterial = doc.nextLight = doc.nextCamera = doc.nextHelper = 0;
    if (!RewindAseSource(source)) return 0;
    if (!ParseTopLevel(source)) {
        return ReaderFail(source, nullptr, JobErrorKind::kSyntax, nullptr, u"the file could not be read");
    }
    // A window that could not move on ended the lines early.
    return ReadFailed(source) ? 0 : 1;
}

}  // namespace

int ParseAseDocument(AseReader& source) {
    if (source.data == nullptr || source.doc == nullptr || source.stack == nullptr || source.allocator == nullptr ||
        source.error == nullptr) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"the reader was not bound to a job");
    }
    AseDocument& doc = *source.doc;
    doc.nextGeomObject = doc.nextMaterial = doc.nextLight = doc.nextCamera = doc.nextHelper = 0;
    source.believedBytes = 0;
    source.passes = 0;
    source.materialCountLines = 0;
    source.materialListBeforeCount = false;
    bool read = false;
    if (!source.twoPasses) {
        read = ReadInOnePass(source) != 0;
        // Two passes are for what the text holds: memory that cannot be
        // had would not be had in two passes either, a file that cannot be
        // read (or changed while it was read) would fail them with its own
        // message or worse, and a whole pass that met no object line is
        // what the counting pass would have found.
        const JobErrorKind kind = source.error->kind;
        if (!read && kind != JobErrorKind::kMemory && kind != JobErrorKind::kFile && kind != JobErrorKind::kContent) {
            *source.error = JobError{};
            char16_t path[kAsePathUnits];
            std::memcpy(path, doc.sourcePath, sizeof path);
            ResetDocument(doc);
            std::memcpy(doc.sourcePath, path, sizeof path);
            source.stack->Clear();
            source.believedBytes = 0;
            if (source.observer != nullptr) source.observer->OnRestart();
            read = ReadInTwoPasses(source) != 0;
        }
    } else {
        read = ReadInTwoPasses(source) != 0;
    }
    if (!read) return 0;
    if (!RemapMaterialIds(doc)) return ReaderOutOfMemory(source, nullptr);
    return 1;
}

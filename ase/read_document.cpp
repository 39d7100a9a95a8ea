// The reader's two passes: the counting pass, the parse of the scene,
// material, object, light and camera blocks, and the material ids.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>

#include "ase/reader_internal.h"

namespace {

// A cheap filter before the keyword lookup of the first pass: the length
// and the two letters after '*' of *GEOMOBJECT, *LIGHTOBJECT, *CAMERAOBJECT
// and *MATERIAL_COUNT.
bool MayBeCountedWord(const AseLine& line) {
    if (line.wordLength < 11 || line.word[0] != '*') return false;
    const unsigned char a = AsciiUpper(static_cast<unsigned char>(line.word[1]));
    const unsigned char b = AsciiUpper(static_cast<unsigned char>(line.word[2]));
    switch (line.wordLength) {
        case 11: return a == 'G' && b == 'E';
        case 12: return a == 'L' && b == 'I';
        case 13: return a == 'C' && b == 'A';
        case 15: return a == 'M' && b == 'A';
        default: return false;
    }
}

// True when the '*' at `star` may begin a counted first word: the two
// letters after it start one of them and only C spaces stand between it and
// the start of its line. `star` lies inside a source buffer, so the two
// bytes after it are readable.
bool MayStartCountedWord(const char* data, const char* star) {
    const unsigned char a = AsciiUpper(static_cast<unsigned char>(star[1]));
    const unsigned char b = AsciiUpper(static_cast<unsigned char>(star[2]));
    if (!((a == 'G' && b == 'E') || (a == 'L' && b == 'I') || (a == 'C' && b == 'A') || (a == 'M' && b == 'A'))) {
        return false;
    }
    for (const char* p = star; p > data;) {
        const char c = *--p;
        if (c == '\r' || c == '\n') return true;
        if (c != ' ' && c != '\t' && c != '\v' && c != '\f') return false;
    }
    return true;
}

// Counts the keyword of the line that starts at the source's position when
// it is one the first pass counts; leaves the position after the line.
void CountLine(AseReader& source, AseDocument& doc) {
    AseLine line;
    if (!NextLine(source, line) || !FindFirstWord(line) || !MayBeCountedWord(line)) return;
    switch (LookupKeywordPadded(line.word, line.wordLength)) {
        case Kw::kMaterialCount: {
            int32_t count = 0;
            if (ReadLineInt(line, count)) {
                doc.declaredMaterialCount = count;
                source.materialCountRemaining = RemainingBytes(source);
            }
            break;
        }
        case Kw::kGeomObject: ++doc.countedGeomObjects; break;
        case Kw::kLightObject: ++doc.countedLights; break;
        case Kw::kCameraObject: ++doc.countedCameras; break;
        default: break;
    }
}

}  // namespace

int CountObjects(AseReader& source) {
    if (source.data == nullptr) return 0;
    AseDocument& doc = (*source.doc);
    source.materialCountRemaining = 0;
    // The text in blocks of 64 bytes, each marked by its line ends and stars
    // at once: the longest line is the widest gap between line-end bytes (a
    // line with its terminator), and only a '*' that starts a line's first
    // word with the right letters has its line split and looked up. Offsets
    // of line ends are the file's, since a window moves.
    int64_t lastEnd = -1;
    int64_t longest = 0;
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
            if (limit - base < 64) {
                const uint64_t inside = (uint64_t{1} << (limit - base)) - 1;
                ends &= inside;
                stars &= inside;
            }
            for (; stars != 0; stars &= stars - 1) {
                const uint32_t at = base + static_cast<uint32_t>(std::countr_zero(stars));
                if (!MayStartCountedWord(data, data + at)) continue;
                uint32_t start = at;
                while (start > 0 && data[start - 1] != '\r' && data[start - 1] != '\n') --start;
                source.position = start;
                CountLine(source, doc);
            }
            for (; ends != 0; ends &= ends - 1) {
                const int64_t at = static_cast<int64_t>(source.base) + base + std::countr_zero(ends);
                longest = std::max(longest, at - lastEnd);
                lastEnd = at;
            }
        }
        if (!MoreToRead(source)) break;
        source.position = limit;
        if (!SlideAseWindow(source, limit)) {
            if (ReadFailed(source)) return 0;
            break;
        }
    }
    longest = std::max<int64_t>(longest, static_cast<int64_t>(source.fileSize) - lastEnd);
    source.position = source.size;
    const size_t capacity = std::max<size_t>(static_cast<size_t>(longest), kMinLineCapacity) + 1;
    doc.maxLineLength = static_cast<int32_t>(std::min<size_t>(capacity, INT32_MAX));
    return 1;
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

int ParseTopLevel(AseReader& source) {
    if (source.data == nullptr) return 0;
    source.stack->Clear();
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, std::string_view(), line)) == BlockStep::kLine) {
        int ok = 1;
        switch (line.keyword) {
            case Kw::kScene: ok = ParseScene(source, line.Word()); break;
            case Kw::kMaterialList: ok = ParseMaterialList(source, line.Word()); break;
            case Kw::kGeomObject: ok = ParseGeomObject(source, line.Word()); break;
            case Kw::kLightObject: ok = ParseLight(source, line.Word()); break;
            case Kw::kCameraObject: ok = ParseCamera(source, line.Word()); break;
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

int ParseAseDocument(AseReader& source) {
    if (source.data == nullptr || source.doc == nullptr || source.stack == nullptr || source.allocator == nullptr) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"the reader was not bound to a job");
    }
    AseDocument& doc = *source.doc;
    doc.nextGeomObject = doc.nextMaterial = doc.nextLight = doc.nextCamera = 0;
    source.believedBytes = 0;
    if (!RewindAseSource(source) || !CountObjects(source)) return 0;
    if (doc.countedGeomObjects == 0) {
        return ReaderFail(source, nullptr, JobErrorKind::kContent, nullptr, u"No geometry found.");
    }
    // Counted lines run through the whole file, so their bound is the
    // file's (see kCountedGeomObjectBytes).
    if (!BelieveDeclaredCount(source, source.fileSize, doc.countedGeomObjects, kCountedGeomObjectBytes) ||
        !BelieveDeclaredCount(source, source.fileSize, doc.countedLights, kCountedLightBytes) ||
        !BelieveDeclaredCount(source, source.fileSize, doc.countedCameras, kCountedCameraBytes)) {
        return ReaderFail(source, nullptr, JobErrorKind::kLimit, nullptr,
                          u"the file holds %d objects, %d lights and %d cameras: more than a file of %lld bytes "
                          u"can describe",
                          doc.countedGeomObjects, doc.countedLights, doc.countedCameras,
                          static_cast<long long>(source.fileSize));
    }
    if (doc.declaredMaterialCount > 0) {
        if (!BelieveDeclaredCount(source, source.materialCountRemaining, doc.declaredMaterialCount,
                                  sizeof(AseMaterial))) {
            return ReaderFail(source, nullptr, JobErrorKind::kLimit, nullptr,
                              u"*MATERIAL_COUNT %d declares more than a file of this size can hold",
                              doc.declaredMaterialCount);
        }
        if (!AllocateMaterials(doc, doc.declaredMaterialCount)) return ReaderOutOfMemory(source, nullptr);
    }
    if (!AllocateGeomObjects(doc, doc.countedGeomObjects)) return ReaderOutOfMemory(source, nullptr);
    if (doc.countedLights > 0 && !AllocateLights(doc, doc.countedLights)) return ReaderOutOfMemory(source, nullptr);
    if (doc.countedCameras > 0 && !AllocateCameras(doc, doc.countedCameras)) return ReaderOutOfMemory(source, nullptr);

    doc.nextGeomObject = doc.nextMaterial = doc.nextLight = doc.nextCamera = 0;
    if (!RewindAseSource(source)) return 0;
    if (!ParseTopLevel(source)) {
        return ReaderFail(source, nullptr, JobErrorKind::kSyntax, nullptr, u"the file could not be read");
    }
    // A window that could not move on ended the lines early.
    if (ReadFailed(source)) return 0;
    if (!RemapMaterialIds(doc)) return ReaderOutOfMemory(source, nullptr);
    return 1;
}

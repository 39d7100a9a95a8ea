// The reader's side of ase/observe.h: the events of a line built from the
// block loop's view of it, numbered as they go, and the reader's own
// reading of a line's numbers and texts for an observer.
#include <algorithm>

#include "ase/reader_internal.h"

namespace {

bool IsCountKeyword(Kw keyword) {
    switch (keyword) {
        case Kw::kMeshNumVertex:
        case Kw::kMeshNumFaces:
        case Kw::kMeshNumTVertex:
        case Kw::kMeshNumTVFaces:
        case Kw::kMeshNumCVertex:
        case Kw::kMeshNumCVFaces:
        case Kw::kMaterialCount:
        case Kw::kNumSubMtls: return true;
        default: return false;
    }
}

// The event's view of a line whose first word was found.
AseObservedLine Observed(const AseReader& source, const AseLine& line, bool skipped) {
    const bool hasArgs = line.args != nullptr && line.args <= line.end();
    return {ObservedLineNumber(source, line.text),
            {line.text, line.length},
            line.Word(),
            hasArgs ? std::string_view(line.args, static_cast<size_t>(line.end() - line.args)) : std::string_view(),
            line.keyword,
            skipped};
}

// A line of the event's view, for the reader's own readers.
AseLine LineOf(const AseObservedLine& line) {
    AseLine view{};
    view.text = line.text.data();
    view.length = static_cast<uint32_t>(line.text.size());
    view.word = line.word.data();
    view.wordLength = static_cast<uint32_t>(line.word.size());
    view.args = line.args.data();
    view.keyword = line.keyword;
    return view;
}

}  // namespace

void ObserveBlockLine(const AseReader& source, const AseLine& line, bool skipped) {
    AseObserver& observer = *source.observer;
    const AseObservedLine seen = Observed(source, line, skipped);
    observer.OnLine(seen);
    int32_t value = 0;
    if (!skipped && IsCountKeyword(line.keyword) && ReadLineInt(line, value)) observer.OnCount(seen, value);
    // The block loop treats a line with both braces as an opening one.
    if (line.opens) {
        observer.OnBlockOpen(seen);
    } else if (line.closes) {
        const BlockStack& stack = *source.stack;
        const bool stray = stack.Depth() == 0;
        observer.OnBlockClose(seen, stray ? Kw::kUnknown : LookupKeyword(stack.Top()), stray);
    }
}

void ObserveDropped(const AseReader& source, const AseLine& line, AseDrop why) {
    source.observer->OnDropped(Observed(source, line, false), why);
}

bool ReadObservedInts(const AseObservedLine& line, int32_t* values, int count) {
    const char* p = line.args.data();
    const char* end = p + line.args.size();
    for (int i = 0; i < count; ++i) {
        if (p == nullptr || !ReadInt(p, end, values[i])) return false;
    }
    return true;
}

bool ReadObservedIntFloats(const AseObservedLine& line, int32_t& index, float* values, int count) {
    return line.args.data() != nullptr && ReadLineIntFloats(LineOf(line), index, values, count);
}

bool ReadObservedFace(const AseObservedLine& line, AseObservedFace& face) {
    if (line.args.data() == nullptr) return false;
    AseFace read{};
    if (!ReadFaceLine(LineOf(line), face.index, read)) return false;
    face.corners[0] = read.a;
    face.corners[1] = read.b;
    face.corners[2] = read.c;
    face.materialId = read.materialId;
    // The labels, read as ReadFaceLine reads past them: the line has been
    // read whole, so each of the three is there.
    const char* p = line.args.data();
    const char* end = p + line.args.size();
    int32_t value = 0;
    ReadInt(p, end, value);
    ++p;  // the ':' after the index
    for (std::string_view& label : face.labels) {
        if (!ReadWord(p, end, 31, label) || !ReadInt(p, end, value)) label = {};
    }
    return true;
}

std::string ObservedQuotedText(const AseObservedLine& line) {
    char text[kMaxQuotedChars + 1] = {};
    ReadQuotedString(text, LineOf(line));
    return text;
}

std::string AseFileNameOfPath(const std::string& path) {
    char name[kAsePathUnits] = {};
    FileNameOfPath(path.c_str(), name, sizeof name);
    return name;
}

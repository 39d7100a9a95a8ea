// Animation blocks: the controller tracks of a *TM_ANIMATION block.
#include "ase/reader_internal.h"

namespace {

// Seconds of a tick with the scene values in force now.
float KeyTime(const AseDocument& doc, int32_t tick) {
    return static_cast<float>(tick) / (doc.frameSpeed * doc.ticksPerFrame);
}

bool IsPosKey(Kw k) {
    return k == Kw::kControlPosSample || k == Kw::kControlPosKey || k == Kw::kControlBezierPosKey ||
           k == Kw::kControlTcbPosKey;
}

bool IsRotKey(Kw k) {
    return k == Kw::kControlRotSample || k == Kw::kControlRotKey || k == Kw::kControlBezierRotKey ||
           k == Kw::kControlTcbRotKey;
}

bool IsScaleKey(Kw k) {
    return k == Kw::kControlScaleSample || k == Kw::kControlScaleKey || k == Kw::kControlBezierScaleKey ||
           k == Kw::kControlTcbScaleKey;
}

}  // namespace

namespace {

// A position or scale track: tick and x y z per key, further numbers ignored.
template <typename Key>
int ParseVectorTrack(AseReader& source, std::string_view name, AseGeomObject& object, bool (*isKey)(Kw),
                     Key* (*append)(JobAllocator&, AseGeomObject&)) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t tick = 0;
        float v[3];
        if (!isKey(line.keyword) || !ReadLineIntFloats(line, tick, v, 3)) continue;
        Key* key = append(*source.allocator, object);
        if (key == nullptr) return ReaderOutOfMemory(source, line.text);
        *key = {KeyTime(*source.doc, tick), {v[0], v[1], v[2]}};
    }
    return step == BlockStep::kDone ? 1 : 0;
}

}  // namespace

int ParsePosTrack(AseReader& source, std::string_view name, AseGeomObject& object) {
    return ParseVectorTrack(source, name, object, IsPosKey, AppendPosKey);
}

int ParseScaleTrack(AseReader& source, std::string_view name, AseGeomObject& object) {
    return ParseVectorTrack(source, name, object, IsScaleKey, AppendScaleKey);
}

int ParseRotTrack(AseReader& source, std::string_view name, AseGeomObject& object) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t tick = 0;
        float v[4];
        if (!IsRotKey(line.keyword) || !ReadLineIntFloats(line, tick, v, 4)) continue;
        Vec3 axis = {v[0], v[1], v[2]};
        Vec3Normalize(&axis, &axis);
        Quat q;
        QuatFromAxisAngle(&q, &axis, v[3]);
        AseRotKey* key = AppendRotKey(*source.allocator, object);
        if (key == nullptr) return ReaderOutOfMemory(source, line.text);
        *key = {KeyTime(*source.doc, tick), q};
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseTmAnimation(AseReader& source, std::string_view name, AseGeomObject& object) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int ok = 1;
        switch (line.keyword) {
            case Kw::kControlPosLinear:
            case Kw::kControlPosTcb:
            case Kw::kControlPosBezier:
            case Kw::kControlPosTrack: ok = ParsePosTrack(source, line.Word(), object); break;
            case Kw::kControlRotLinear: ok = ParseRotTrack(source, line.Word(), object); break;
            case Kw::kControlRotTcb:
            case Kw::kControlRotBezier:
            case Kw::kControlRotTrack:
                ok = ParseRotTrack(source, line.Word(), object);
                (*source.doc).anyRotKeysRelative = 1;
                break;
            case Kw::kControlScaleLinear:
            case Kw::kControlScaleTcb:
            case Kw::kControlScaleBezier:
            case Kw::kControlScaleTrack: ok = ParseScaleTrack(source, line.Word(), object); break;
            default: break;
        }
        if (!ok) return 0;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

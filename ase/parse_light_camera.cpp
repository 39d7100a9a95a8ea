// Light and camera blocks. Their records stay in the document; no host
// object is made from them.
#include "ase/reader_internal.h"

namespace {

// The first *NODE_TM of a light or camera becomes its rigid frame; later
// ones (the target's) are read and dropped. 0 when the block stack fails.
int ReadNodeMatrix(AseReader& source, const AseLine& line, AseNodeTransform& transform, int32_t& tmRead) {
    if (tmRead != 0) {
        Mat4 scratch = Mat4Identity();
        return ParseNodeTm(source, line.Word(), scratch);
    }
    Mat4& m = transform.tm;
    if (!ParseNodeTm(source, line.Word(), m)) return 0;
    Mat4 transposed;
    Mat4Transpose(&transposed, &m);
    m = RebuildRigidTransform(transposed);
    m.m[2] = -m.m[2];
    m.m[6] = -m.m[6];
    m.m[10] = -m.m[10];
    Mat4 rebuilt;
    Mat4RebuildBasisFromZ(&rebuilt, &m);
    m = rebuilt;
    tmRead = 1;
    return 1;
}

}  // namespace

Mat4 RebuildRigidTransform(const Mat4& m) {
    Mat4 affine = m;
    affine.m[12] = 0.0f;
    affine.m[13] = 0.0f;
    affine.m[14] = 0.0f;
    affine.m[15] = 1.0f;
    AffineParts parts;
    DecomposeAffine(&affine, &parts);
    const Quat q = {parts.q[0], parts.q[1], parts.q[2], parts.q[3]};
    Mat4 rotation;
    QuatToMatrix(&q, &rotation);
    Mat4 result;
    Mat4Transpose(&result, &rotation);
    result.m[3] = parts.t[0];
    result.m[7] = parts.t[1];
    result.m[11] = parts.t[2];
    return result;
}

int ParseLightSettings(AseReader& source, std::string_view name, AseLight& light) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        float v = 0.0f;
        switch (line.keyword) {
            case Kw::kLightColor: {
                float rgb[3];
                if (ReadLineFloats(line, rgb, 3)) {
                    light.color[0] = rgb[0];
                    light.color[1] = rgb[1];
                    light.color[2] = rgb[2];
                    light.color[3] = 1.0f;
                }
                break;
            }
            case Kw::kLightIntens: if (ReadLineFloats(line, &v, 1)) light.intensity = v; break;
            case Kw::kLightHotspot: if (ReadLineFloats(line, &v, 1)) light.hotspot = v; break;
            case Kw::kLightFalloff: if (ReadLineFloats(line, &v, 1)) light.falloff = v; break;
            case Kw::kLightAttnStart: if (ReadLineFloats(line, &v, 1)) light.attenuationStart = v; break;
            case Kw::kLightAttnEnd: if (ReadLineFloats(line, &v, 1)) light.attenuationEnd = v; break;
            default: break;
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseCameraSettings(AseReader& source, std::string_view name, AseCamera& camera) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        float v = 0.0f;
        switch (line.keyword) {
            case Kw::kCameraNear: if (ReadLineFloats(line, &v, 1)) camera.nearClip = v; break;
            case Kw::kCameraFar: if (ReadLineFloats(line, &v, 1)) camera.farClip = v; break;
            case Kw::kCameraFov: if (ReadLineFloats(line, &v, 1)) camera.fovDegrees = v * 57.29578f; break;
            case Kw::kCameraTdist: if (ReadLineFloats(line, &v, 1)) camera.targetDistance = v; break;
            default: break;
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseLight(AseReader& source, std::string_view name) {
    AseDocument& doc = (*source.doc);
    if (doc.lights == nullptr || doc.nextLight < 0 || doc.nextLight >= doc.lightCount) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr,
                          u"more light blocks than the first pass counted");
    }
    AseLight& light = doc.lights[doc.nextLight];
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int ok = 1;
        switch (line.keyword) {
            case Kw::kNodeName: ReadQuotedString(light.nodeName, line); break;
            case Kw::kLightType: {
                const char* p = line.args;
                std::string_view word;
                if (!ReadWord(p, line.end(), kMaxBlockNameChars, word)) break;
                if (EqualNoCase(word, "Omni")) light.lightType = kLightOmni;
                if (EqualNoCase(word, "Directional")) light.lightType = kLightDirectional;
                if (EqualNoCase(word, "Target")) light.lightType = kLightTarget;
                break;
            }
            case Kw::kNodeTm: ok = ReadNodeMatrix(source, line, light.transform, light.tmRead); break;
            case Kw::kLightSettings: ok = ParseLightSettings(source, line.Word(), light); break;
            case Kw::kLightObject: ++doc.nextLight; return 1;
            default: break;
        }
        if (!ok) return 0;
    }
    if (step == BlockStep::kFail) return 0;
    ++doc.nextLight;
    return 1;
}

int ParseCamera(AseReader& source, std::string_view name) {
    AseDocument& doc = (*source.doc);
    if (doc.cameras == nullptr || doc.nextCamera < 0 || doc.nextCamera >= doc.cameraCount) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr,
                          u"more camera blocks than the first pass counted");
    }
    AseCamera& camera = doc.cameras[doc.nextCamera];
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int ok = 1;
        switch (line.keyword) {
            case Kw::kNodeName: ReadQuotedString(camera.nodeName, line); break;
            case Kw::kCameraType: camera.cameraType = 0; break;
            case Kw::kNodeTm: ok = ReadNodeMatrix(source, line, camera.transform, camera.tmRead); break;
            case Kw::kCameraSettings: ok = ParseCameraSettings(source, line.Word(), camera); break;
            case Kw::kCameraObject: ++doc.nextCamera; return 1;
            default: break;
        }
        if (!ok) return 0;
    }
    if (step == BlockStep::kFail) return 0;
    ++doc.nextCamera;
    return 1;
}

// The turn before an export and the list of what an export leaves out.
#include "host/store/axes.h"

#include <charconv>

#include "host/store/text.h"

namespace asehost {

namespace {

void Turn(float v[3]) {
    const float y = v[1];
    v[1] = v[2];
    v[2] = -y;
}

std::string Number(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace

void TurnForExport(HostScene& scene) {
    HostContext& c = *scene.context();
    for (int v = 0; v < c.vertexCount; ++v) {
        Turn(c.vertices[v].position);
    }
}

std::vector<std::string> UnwrittenContent(const HostScene& scene) {
    std::vector<std::string> lines;
    const int bones = scene.boneCount();
    if (bones > 0) {
        int roots = 0;
        for (int b = 0; b < bones; ++b) roots += scene.bones()[b].parentIndex < 0 ? 1 : 0;
        lines.push_back("the bone hierarchy (" + std::to_string(bones) + (bones == 1 ? " bone, " : " bones, ") + std::to_string(roots) +
                        (roots == 1 ? " root" : " roots") + "): objects are written in world space");
    }
    const HostContext& c = *scene.context();
    for (int a = 0; a < c.animationCount; ++a) {
        const HostAnimation& animation = c.animations[a];
        lines.push_back("animation \"" + Utf16ToUtf8(WideOf(animation.name)) + "\" (" + std::to_string(animation.trackCount) +
                        (animation.trackCount == 1 ? " track, " : " tracks, ") + Number(animation.frameCount) + " frames at " +
                        Number(animation.frameRate) + " per second)");
    }
    return lines;
}

}  // namespace asehost

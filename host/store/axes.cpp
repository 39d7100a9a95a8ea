// The turn before an export.
#include "host/store/axes.h"

namespace asehost {

namespace {

void Turn(float v[3]) {
    const float y = v[1];
    v[1] = v[2];
    v[2] = -y;
}

}  // namespace

void TurnForExport(HostScene& scene) {
    HostContext& c = *scene.context();
    for (int v = 0; v < c.vertexCount; ++v) {
        Turn(c.vertices[v].position);
    }
}

}  // namespace asehost

// Export preparation: the geometry check, the host's triangulation and
// preparation steps, and the options dialog that decides whether the export
// goes on.
#include "export/export.h"
#include "platform/dialog.h"
#include "platform/platform.h"
#include "resources/options_dialog.h"

namespace {

enum : int { kMessageUnits = 256 };

// Shows `text` in the error box, through the zero-filled message buffer.
void ShowExportError(const char16_t* text) {
    char16_t message[kMessageUnits] = {};
    for (int i = 0; text[i] != 0 && i + 1 < kMessageUnits; ++i) message[i] = text[i];
    platform::ShowErrorBox(message);
}

}  // namespace

int PrepareExport(HostContext* context, void* instance) {
    if (context == nullptr || instance == nullptr) return kPrepareFailed;
    // Only the arrays' presence counts: present arrays without entries pass.
    if (context->faceGroups == nullptr || context->vertices == nullptr) {
        ShowExportError(u"No geometry to export.\t");
        return kPrepareFailed;
    }
    const HostContextOps* ops = context->ops;
    if (ops == nullptr || ops->TriangulateScene == nullptr || ops->TriangulateScene(context) == 0) {
        ShowExportError(u"Failed to triangulate geometry.\t");
        return kPrepareFailed;
    }
    if (ops->PostTriangulateStep1 != nullptr) ops->PostTriangulateStep1(context);
    if (ops->PostTriangulateStep2 != nullptr) ops->PostTriangulateStep2(context);
    // The count and the array are read afresh for every vertex: the host
    // owns both and may change them while preparing.
    for (int i = 0; context->vertices != nullptr && i < context->vertexCount; ++i) {
        HostVertex& vertex = context->vertices[i];
        if (vertex.ops != nullptr && vertex.ops->PrepareVertex != nullptr) vertex.ops->PrepareVertex(&vertex);
    }
    if (ops->PreDialogStep != nullptr) ops->PreDialogStep(context, 1);
    void* owner = ops->GetMainWindow != nullptr ? ops->GetMainWindow(context) : nullptr;

    const intptr_t result = platform::RunModalDialog(instance, IDD_EXPORT_OPTIONS, &ExportOptionsDialogTemplate(),
                                                     owner, &ExportOptionsDialog);
    if (result == platform::kIdCancel || result == 0 || result == -1) return kPrepareCancelled;
    return kPrepareConfirmed;
}

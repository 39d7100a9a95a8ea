// The filter callback: one call per import or export.
//
// Nothing thrown below may cross into the host, which is C and knows no
// exceptions: every call runs inside a barrier that turns whatever is caught
// into a failed call with a message.
#include <new>

#include "export/export.h"
#include "import/import.h"
#include "plugin/plugin.h"

HostContext* currentContext = nullptr;

namespace {

int Dispatch(uint32_t message, HostContext* context, void* arg) {
    switch (message) {
        case FILTER_MSG_IMPORT:
            if (context == nullptr) return 0;
            currentContext = context;
            return RunImport(context);
        case FILTER_MSG_EXPORT:
            if (context == nullptr) return 0;
            currentContext = context;
            return WriteExportFile(context);
        case FILTER_MSG_QUERY:
            if (context == nullptr || arg == nullptr) return 0;
            currentContext = context;
            return 1;
        case FILTER_MSG_PREPARE_EXPORT:
            if (context == nullptr || arg == nullptr) return 0;
            currentContext = context;
            return PrepareExport(context, arg);
        default:
            return 0;
    }
}

void Report(HostContext* context, const char16_t* text) {
    if (context != nullptr) AssignDualString(&context->errorText, text);
}

}  // namespace

int FilterProc(uint32_t message, HostContext* context, void* arg, void* /*reserved*/) {
    try {
        return Dispatch(message, context, arg);
    } catch (const std::bad_alloc&) {
        Report(context, kOutOfMemoryText);
    } catch (...) {
        Report(context, kInternalErrorText);
    }
    return 0;
}

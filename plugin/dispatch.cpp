// The filter callback: one call per import or export.
#include "ase/reader.h"
#include "export/export.h"
#include "plugin/plugin.h"

HostContext* currentContext = nullptr;

int FilterProc(uint32_t message, HostContext* context, void* arg, void* /*reserved*/) {
    switch (message) {
        case FILTER_MSG_IMPORT:
            if (context == nullptr) return 0;
            currentContext = context;
            return HandleImport(context);
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

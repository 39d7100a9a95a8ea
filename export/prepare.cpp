// Export preparation (arrives with the export work).
#include "export/export.h"

int PrepareExport(HostContext* context, void* instance) {
    (void)context;
    (void)instance;
    return 0;
}

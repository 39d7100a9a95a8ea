// Export driver (arrives with the export work).
#include "export/export.h"

int WriteExportFile(HostContext* context) {
    (void)context;
    return 0;
}

// Import driver (the reader arrives with the import work).
#include "ase/reader.h"

int HandleImport(HostContext* context) {
    (void)context;
    return 0;
}

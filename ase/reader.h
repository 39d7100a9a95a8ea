// The ASE reader: from a file named by the host to a filled import document.
#pragma once

#include "ase/document.h"
#include "plugin/host_api.h"

// Handler of FILTER_MSG_IMPORT: loads the file named by the context, parses it
// into the document, builds the host scene from it and empties the document
// again, whatever the result. Returns 1 on success, 0 on failure (with
// "No geometry found." in the context's errorText for a file without
// geometry objects).
int HandleImport(HostContext* context);

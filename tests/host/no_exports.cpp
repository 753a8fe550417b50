// A shared library that is no plug-in module: it exports none of the plug-in
// functions.
#include "plugin_api/abi.h"

PLUGIN_EXPORT int NotAPlugin() {
    return 1;
}

// The RTFD makers, registered as the Works and WordPerfect modules register them when loaded.

#include "modules/export/RTFDConverters.h"

namespace {
const bool registered = (registerRTFDConverters(), true);
}  // namespace

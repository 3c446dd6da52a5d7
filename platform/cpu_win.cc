#include <windows.h>

#include "platform/cpu.h"

namespace platform {

bool HasSse2() { return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE; }

}  // namespace platform

// Processor features that the engine's comparisons choose between.
#pragma once

namespace platform {

// True when 16-byte SSE2 loads may be used (Windows: IsProcessorFeaturePresent with
// PF_XMMI64_INSTRUCTIONS_AVAILABLE; POSIX: the compiler's CPU probe on x86, false elsewhere).
bool HasSse2();

}  // namespace platform

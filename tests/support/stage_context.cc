#include "tests/support/stage_context.h"

#include "app/builtin_signatures.h"

namespace support {

engine::Engine& BuiltinEngine() {
  static engine::Engine* const engine = [] {
    auto* made = new engine::Engine();  // lives until the test program ends
    for (const app::SignatureEntry& entry : app::kBuiltinSignatures) {
      made->AddSignature(entry.kindName, entry.location, entry.pattern);
    }
    made->Compile();
    return made;
  }();
  return *engine;
}

}  // namespace support

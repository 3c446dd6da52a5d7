// StageContext: what a stage test needs to run a stage on a FakeMachine: the machine, the
// results and flags, and the engine loaded with the built-in table and compiled once for the
// whole test program (its scans are read-only, so tests share it).
#pragma once

#include "engine/engine.h"
#include "remedy/remedy_state.h"
#include "tests/support/fake_machine.h"

namespace support {

// The built-in table, added in row order and compiled; made on first use.
engine::Engine& BuiltinEngine();

struct StageContext {
  explicit StageContext(remedy::FileScanner scanner = nullptr)
      : context{machine.Services(), BuiltinEngine(), results, state, scanner} {}
  FakeMachine machine;
  remedy::Results results;
  remedy::StageState state;
  remedy::Context context;
};

}  // namespace support

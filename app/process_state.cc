#include "app/process_state.h"

namespace app {
namespace {

// Defined in one translation unit so that their order is the construction order: the lists
// first, then the engine (its construction starts the workers and creates the temporary
// files), then the other stages' state. Destruction runs backwards, so the engine joins its
// workers while the lists still exist.
remedy::Results gResults;
engine::Engine gEngine;
remedy::StageState gStageState;

}  // namespace

remedy::Results& ProcessResults() { return gResults; }
engine::Engine& ProcessEngine() { return gEngine; }
remedy::StageState& ProcessStageState() { return gStageState; }

}  // namespace app

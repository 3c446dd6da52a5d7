// The program's process-wide objects: the summary's two lists, the engine and the stages' flags
// and handler slots. They are built during static initialisation, before main, and released in
// the reverse order after it returns. Only main.cc uses them.
#pragma once

#include "engine/engine.h"
#include "remedy/remedy_state.h"

namespace app {

remedy::Results& ProcessResults();
engine::Engine& ProcessEngine();
remedy::StageState& ProcessStageState();

}  // namespace app

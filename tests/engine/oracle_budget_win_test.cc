#include "tests/engine/oracle_budget.h"

namespace engine {

int OracleCases(int nativeCases) { return nativeCases / 10; }

}  // namespace engine

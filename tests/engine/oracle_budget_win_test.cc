#include <algorithm>

#include "tests/engine/oracle_budget.h"

namespace engine {

// Under Wine every case's engine costs ten threads and three files in the wineserver; a
// thirtieth of the native cases (at least four) shows the platforms agree without loading it
// for minutes.
int OracleCases(int nativeCases) { return std::max(nativeCases / 30, std::min(nativeCases, 4)); }

}  // namespace engine

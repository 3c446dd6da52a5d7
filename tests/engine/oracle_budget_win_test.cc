#include "tests/engine/oracle_budget.h"

namespace engine {

// Under Wine every case's engine costs ten threads and three files in the wineserver; a
// thirtieth of the native cases shows the platforms agree without loading it for minutes.
int OracleCases(int nativeCases) { return nativeCases / 30 > 0 ? nativeCases / 30 : 1; }

}  // namespace engine

// How many random cases the oracle tests run in this build: all of them natively, a tenth
// under Wine, where every case costs an engine with its threads and files many times over.
#pragma once

namespace engine {

int OracleCases(int nativeCases);

}  // namespace engine

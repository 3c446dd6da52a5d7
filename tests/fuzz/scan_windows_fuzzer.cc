// libFuzzer entry point of FuzzScanWindows; the body and its input layout are in fuzz_targets.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzScanWindows({data, size});
  return 0;
}

// Seed inputs for the fuzz targets, made by our own code at run time: PeBuilder images and the
// built-in table's texts in each target's input layout. Deterministic; any thread.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzz {

using Input = std::vector<uint8_t>;

// The seeds of the target named `target` (a name of kFuzzTargets); none for another name.
std::vector<Input> SeedInputs(std::string_view target);

}  // namespace fuzz

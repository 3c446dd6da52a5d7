#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace engine {
namespace {

constexpr char kHashCacheNameFormat[] = "pehcm_%x%x";
constexpr char kBsmNameFormat[] = "pehcb_%x%x";
// Two 32-bit hex numbers and the prefix fit with room to spare.
constexpr size_t kNameBuffer = 32;

uint32_t LowTime() { return static_cast<uint32_t>(std::time(nullptr)); }

}  // namespace

std::string HashCacheName(unsigned randValue, uint32_t time) {
  char name[kNameBuffer];
  std::snprintf(name, sizeof name, kHashCacheNameFormat, randValue, time);
  return name;
}

std::string BsmName(unsigned randValue, uint32_t time) {
  char name[kNameBuffer];
  std::snprintf(name, sizeof name, kBsmNameFormat, randValue, time);
  return name;
}

Engine::Engine() {
  const unsigned first = static_cast<unsigned>(std::rand());
  hashCache_ = std::make_unique<fileinfo::HashStore>(HashCacheName(first, LowTime()));
  const unsigned second = static_cast<unsigned>(std::rand());
  bsm_ = std::make_unique<BSM>(BsmName(second, LowTime()));
}

Engine::~Engine() = default;

void Engine::AddSignature(std::string kindName, std::string location, std::string pattern) {
  (void)bsm_->AddBinarySignature(std::move(kindName), std::move(location), std::move(pattern),
                                 /*strict=*/true);
}

void Engine::Compile() {
  bsm_->SimpleMatcher().Build();
  bsm_->PartMatcher().Build();
  hashCache_->FinalizeStore();
}

}  // namespace engine

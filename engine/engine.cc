#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "engine/scan.h"

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
  // Here rather than on the first block search, so that scans only ever read the table.
  bsm_->RollingHash().FinalizeBlocks();
  hashCache_->FinalizeStore();
}

bool Engine::ScanBuffer(const uint8_t* data, int32_t size, std::string& matchName) {
  const std::atomic<int32_t> stop{0};
  const ExtraData plain{0, 0, 0, 0};
  const std::vector<std::string> names = engine::Scan(*bsm_, data, size, nullptr, stop, &plain);
  if (names.empty()) return false;
  matchName = names.front();
  return true;
}

std::vector<std::string> Engine::ScanImage(const uint8_t* data, int32_t size,
                                           const fileinfo::PeImage& pe) {
  const std::atomic<int32_t> stop{0};
  return engine::Scan(*bsm_, data, size, &pe, stop, nullptr);
}

std::vector<std::string> Engine::Scan(const uint8_t* buffer, int32_t size,
                                      const fileinfo::PeImage* pe, const std::atomic<int32_t>& stop,
                                      const ExtraData* extraData) {
  return engine::Scan(*bsm_, buffer, size, pe, stop, extraData);
}

}  // namespace engine

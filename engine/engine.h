// Engine: the program's signature engine, owning the BSM and the hash cache. The app holds the
// one process-wide instance; construction creates both stores' temporary files and starts the
// BSM's workers, destruction stops and joins them. Signatures are added and compiled on one
// thread before any scan; after Compile any number of threads may scan at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/bsm.h"
#include "engine/location.h"
#include "fileinfo/hash_store.h"
#include "fileinfo/pe_image.h"

namespace engine {

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Adds one signature entry; a refused text is dropped (the parser prints what it reports).
  void AddSignature(std::string kindName, std::string location, std::string pattern);
  // Builds the simple and the part matcher, finalises the rolling-hash table, then the hash
  // cache. Once, after the last AddSignature and before any scan.
  void Compile();

  // The first (smallest) match name of a plain buffer (thread memory, a shortcut): numeric
  // locations are buffer offsets, "EP" and "S0" offset 0. False, with `matchName` untouched,
  // when nothing matched.
  [[nodiscard]] bool ScanBuffer(const uint8_t* data, int32_t size, std::string& matchName);
  // The sorted distinct match names of a whole mapped file, located against its image.
  std::vector<std::string> ScanImage(const uint8_t* data, int32_t size,
                                     const fileinfo::PeImage& pe);
  // The scan both of them run; `pe` and `extraData` may each be null (see engine/scan.h).
  std::vector<std::string> Scan(const uint8_t* buffer, int32_t size, const fileinfo::PeImage* pe,
                                const std::atomic<int32_t>& stop, const ExtraData* extraData);

  BSM& Bsm() { return *bsm_; }
  fileinfo::HashStore& HashCache() { return *hashCache_; }

 private:
  // Declared first so that it is released last: the BSM's workers are joined before it goes.
  std::unique_ptr<fileinfo::HashStore> hashCache_;
  std::unique_ptr<BSM> bsm_;
};

// "pehcm_%x%x" / "pehcb_%x%x" with a rand() value and the low 32 bits of the time.
std::string HashCacheName(unsigned randValue, uint32_t time);
std::string BsmName(unsigned randValue, uint32_t time);

}  // namespace engine

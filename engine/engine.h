// Engine: the program's signature engine, owning the BSM and the hash cache. The app holds the
// one process-wide instance; construction creates both stores' temporary files and starts the
// BSM's workers, destruction stops and joins them. Signatures are added and compiled on one
// thread before any scan.
#pragma once

#include <memory>
#include <string>

#include "engine/bsm.h"
#include "fileinfo/hash_store.h"

namespace engine {

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Adds one signature entry; a refused text is dropped (the parser prints what it reports).
  void AddSignature(std::string kindName, std::string location, std::string pattern);
  // Builds the simple and the part matcher, then finalises the hash cache. Once, after the last
  // AddSignature and before any scan.
  void Compile();

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

// Record body, little-endian: location length L1, L1 bytes; kind length L2, L2 bytes;
// rolling-hash id. The scrambling of body and length is the ScrambledFile's.
#include "engine/signature_store.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "platform/debug_output.h"
#include "platform/temp_file.h"

namespace engine {
namespace {

constexpr char kStorePathFormat[] = "%s\\%s_bvc_%x%x%x.tmp";
constexpr size_t kFieldBytes = 4;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Reads a 32-bit field at `pos` when it lies inside the body, advancing `pos`.
bool TakeU32(const std::vector<uint8_t>& body, size_t& pos, uint32_t& v) {
  if (body.size() < kFieldBytes || pos > body.size() - kFieldBytes) return false;
  v = uint32_t{body[pos]} | uint32_t{body[pos + 1]} << 8 | uint32_t{body[pos + 2]} << 16 |
      uint32_t{body[pos + 3]} << 24;
  pos += kFieldBytes;
  return true;
}

bool TakeText(const std::vector<uint8_t>& body, size_t& pos, std::string& text) {
  uint32_t length = 0;
  if (!TakeU32(body, pos, length) || length > body.size() - pos) return false;
  text.assign(reinterpret_cast<const char*>(body.data() + pos), length);
  pos += length;
  return true;
}

std::string NewStorePath(const std::string& baseName) {
  const unsigned first = static_cast<unsigned>(std::rand());
  const unsigned second = static_cast<unsigned>(std::rand());
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  return SignatureStorePath(platform::TempDirectory(), baseName, first, second, now);
}

}  // namespace

std::string SignatureStorePath(const std::string& tempDirectory, const std::string& baseName,
                               unsigned firstRand, unsigned secondRand, uint32_t time) {
  const int length = std::snprintf(nullptr, 0, kStorePathFormat, tempDirectory.c_str(),
                                   baseName.c_str(), secondRand, firstRand, time);
  std::string path(static_cast<size_t>(length), '\0');
  std::snprintf(path.data(), path.size() + 1, kStorePathFormat, tempDirectory.c_str(),
                baseName.c_str(), secondRand, firstRand, time);
  return path;
}

SignatureStore::SignatureStore(const std::string& baseName)
    : file_(NewStorePath(baseName), /*temporaryAttribute=*/false) {}

uint32_t SignatureStore::Append(std::string_view location, std::string_view kindName,
                                uint32_t rollingHashId) {
  // The body length travels as 32 bits; texts that cannot be described so are not written.
  constexpr size_t kMaxText = std::numeric_limits<uint32_t>::max() / 4;
  if (location.size() > kMaxText || kindName.size() > kMaxText) {
    platform::DebugOutput("SignatureStore: record texts too long, not stored\n");
    return kNoRecord;
  }
  std::vector<uint8_t> body;
  body.reserve(location.size() + kindName.size() + 3 * kFieldBytes);
  PutU32(body, static_cast<uint32_t>(location.size()));
  body.insert(body.end(), location.begin(), location.end());
  PutU32(body, static_cast<uint32_t>(kindName.size()));
  body.insert(body.end(), kindName.begin(), kindName.end());
  PutU32(body, rollingHashId);
  return file_.Append(body);
}

SignatureRecord SignatureStore::Read(uint32_t offset) {
  const std::optional<std::vector<uint8_t>> body = file_.Read(offset);
  if (!body) return {};
  SignatureRecord record;
  size_t pos = 0;
  if (!TakeText(*body, pos, record.location) || !TakeText(*body, pos, record.kindName) ||
      !TakeU32(*body, pos, record.rollingHashId)) {
    return {};
  }
  return record;
}

}  // namespace engine

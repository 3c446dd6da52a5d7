// app/builtin_signatures.h
// The built-in signature table: every signature the program knows, as constant entries that main
// hands to AddSignature in this order, all before the engine is compiled. Static and immutable:
// any thread may read it, and its texts (8-bit, NUL-terminated) live as long as the program.
#pragma once

#include <array>
#include <cstddef>

namespace app {

// Kind names: the match names under which the engine reports a signature of each kind.
inline constexpr char kThreadSig3Kind[] = "ThreadSig3";  // injected code in thread memory
inline constexpr char kFlashSigKind[] = "FlashSig";      // infected shortcut on a removable drive
inline constexpr char kFileSigKind[] = "FileSig";        // infected program on a fixed drive

// One signature in the form AddSignature takes it.
struct SignatureEntry {
  const char* kindName;
  const char* location;  // "*", or an anchor in section 0 such as "S0+464", "S0+150,100", "S0,200"
  const char* pattern;   // hex text with wildcards and gaps, optionally a rolling-hash suffix
};

inline constexpr std::size_t kBuiltinSignatureCount = 108;

// In the order the engine must receive them; repeated rows included.
extern const std::array<SignatureEntry, kBuiltinSignatureCount> kBuiltinSignatures;

}  // namespace app

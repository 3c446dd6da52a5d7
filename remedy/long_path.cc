#include "remedy/long_path.h"

namespace remedy {

std::wstring LongPathForm(const std::wstring& path) {
  if (path.size() < kMaxPath || path.rfind(L"\\\\", 0) == 0) return path;
  std::wstring literal = L"\\\\?\\";
  const size_t prefix = literal.size();
  literal.reserve(prefix + path.size());
  for (const wchar_t c : path) {
    if (c == L'\\' && literal.size() > prefix && literal.back() == L'\\') continue;
    literal += c;
  }
  return literal;
}

}  // namespace remedy

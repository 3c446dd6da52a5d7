#include "remedy/to_utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(ToUtf8, ConvertsEachUnitOnItsOwn) {
  struct Case {
    std::wstring in;
    std::string out;
  };
  const Case cases[] = {
      {L"c:\\a.exe", "c:\\a.exe"},
      {L"\u00e9", "\xC3\xA9"},
      {L"\u07FF", "\xDF\xBF"},
      {L"\u0800", "\xE0\xA0\x80"},
      {L"\u20AC", "\xE2\x82\xAC"},
      // Surrogates are not paired: each becomes a three-byte sequence, a lone one too.
      {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)},
       "\xED\xA0\xBD\xED\xB8\x80"},
      {std::wstring{static_cast<wchar_t>(0xDC00)}, "\xED\xB0\x80"},
      {L"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.out));
    EXPECT_EQ(remedy::ToUtf8(c.in), c.out);
  }
}

}  // namespace

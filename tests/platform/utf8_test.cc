#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct Utf8Case {
  const char* name;
  std::wstring wide;
  std::optional<std::string> strict;
  std::string replaced;
};

TEST(Utf8FromWide, EncodesEveryLengthAndRefusesWhatIsNoCodePoint) {
  const Utf8Case cases[] = {
      {"empty", L"", "", ""},
      {"ascii", L"C:\\a.exe", "C:\\a.exe", "C:\\a.exe"},
      {"two_bytes", L"\u00e9\u07ff", "\xC3\xA9\xDF\xBF", "\xC3\xA9\xDF\xBF"},
      {"three_bytes", L"\u0800\u20ac\uffff", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF",
       "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
      {"four_bytes", L"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
       "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {"lone_high_surrogate", std::wstring(1, wchar_t(0xD800)) + L"a", std::nullopt,
       "\xEF\xBF\xBD"
       "a"},
      {"lone_low_surrogate", std::wstring(1, wchar_t(0xDC00)), std::nullopt, "\xEF\xBF\xBD"},
      {"high_at_end", L"a" + std::wstring(1, wchar_t(0xDBFF)), std::nullopt, "a\xEF\xBF\xBD"},
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8FromWide(c.wide, false), c.strict);
    EXPECT_EQ(Utf8FromWide(c.wide, true), c.replaced);
  }
}

TEST(Utf8FromWide, RefusesUnitsPastTheLastCodePointWhereWcharHas32Bits) {
  if constexpr (sizeof(wchar_t) == 4) {
    for (uint32_t unit : {0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      SCOPED_TRACE(unit);
      const std::wstring wide(1, static_cast<wchar_t>(unit));
      EXPECT_EQ(Utf8FromWide(wide, false), std::nullopt);
      EXPECT_EQ(Utf8FromWide(wide, true), "\xEF\xBF\xBD");
    }
  } else {
    GTEST_SKIP() << "16-bit wchar_t holds no such unit";
  }
}

}  // namespace
}  // namespace platform

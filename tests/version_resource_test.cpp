// The DLL's version resource, read back as Explorer and crash reporters
// read it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/module.hpp"

namespace {

TEST(Library, IdentifiesItselfToWindows) {
  const std::string narrow = support::module_path("ravelTint");
  const std::wstring path(narrow.begin(), narrow.end());
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), nullptr));
  ASSERT_FALSE(info.empty()) << "the DLL has no version resource";
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, info.size(), info.data()));
  auto value = [&](const wchar_t* key) {
    void* text = nullptr;
    UINT length = 0;
    const std::wstring query =
        L"\\StringFileInfo\\040904b0\\" + std::wstring(key);
    if (!VerQueryValueW(info.data(), query.c_str(), &text, &length))
      return std::string();
    const std::wstring wide(static_cast<wchar_t*>(text));
    return std::string(wide.begin(), wide.end());
  };
  EXPECT_EQ(value(L"FileVersion"), RAVELTINT_VERSION);
  EXPECT_EQ(value(L"ProductVersion"), RAVELTINT_VERSION);
  EXPECT_EQ(value(L"OriginalFilename"), "ravelTint.dll");
  EXPECT_EQ(value(L"ProductName"), "ravelTint");
  EXPECT_NE(value(L"FileDescription"), "");
  EXPECT_NE(value(L"LegalCopyright").find("Apache License 2.0"),
            std::string::npos);
}

}  // namespace

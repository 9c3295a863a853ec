#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "main/startup.h"
#include "platform/system.h"

using namespace nerova;

namespace {

// TMP is the first place the system's temporary folder comes from; it is put back afterwards.
class TmpVariable : public ::testing::Test {
protected:
    void TearDown() override { ::SetEnvironmentVariableW(L"TMP", saved_ ? saved_->c_str() : nullptr); }
    void set(const std::wstring& value) { ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", value.c_str())); }

private:
    std::optional<std::wstring> saved_ = [] {
        wchar_t buffer[32768];
        const DWORD length = ::GetEnvironmentVariableW(L"TMP", buffer, 32768);
        return length == 0 ? std::nullopt : std::optional<std::wstring>(std::wstring(buffer, length));
    }();
};

}  // namespace

TEST_F(TmpVariable, TheDataFolderWithoutAppdataLandsInTheTemporaryFolder) {
    set(L"C:\\nerova-temp-test");
    EXPECT_EQ(platform::temp_directory(), "C:\\nerova-temp-test\\");
    EXPECT_EQ(data_paths(std::nullopt, platform::default_data_base()).data_folder,
              "C:\\nerova-temp-test\\NerovaBridge");
}

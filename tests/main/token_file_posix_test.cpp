// The token file where others may have been first: links, FIFOs, devices, oversized files and
// folders that belong to someone else.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/system.h"
#include "state/token.h"

using namespace nerova;
namespace fs = std::filesystem;

namespace {

const std::string GOOD = "Ab3dEf6hIj9lMn2pQr5tUv8xYz1bCd4F";

class PlantedTokenFile : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("nerova-planted-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(folder());
        fs::permissions(folder(), fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path folder() const { return root / "NerovaBridge"; }
    fs::path file() const { return folder() / "token.txt"; }
    std::string load() { return load_or_create_token(folder().string(), file().string()); }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path root;
};

TEST_F(PlantedTokenFile, ALinkIsReplacedNeverFollowed) {
    const fs::path victim = root / "victim";
    std::ofstream(victim) << GOOD;
    fs::create_symlink(victim, file());
    const std::string token = load();
    EXPECT_NE(token, GOOD) << "a token read through a link";
    EXPECT_EQ(read(victim), GOOD) << "the link's target was written";
    EXPECT_FALSE(fs::is_symlink(file()));
    EXPECT_EQ(read(file()), token);
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PlantedTokenFile, ALinkInPlaceOfTheFolderIsNotUsed) {
    std::ofstream(file()) << GOOD;
    const fs::path planted = root / "planted";
    fs::create_directory_symlink(folder(), planted);
    ::testing::internal::CaptureStderr();
    EXPECT_NE(load_or_create_token(planted.string(), (planted / "token.txt").string()), GOOD);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(": it is not a folder;"), std::string::npos);
    EXPECT_EQ(read(file()), GOOD);
}

TEST_F(PlantedTokenFile, FifosDevicesAndLongFilesAreInvalid) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    EXPECT_NE(load(), GOOD);  // returns at once instead of waiting for a writer
    EXPECT_TRUE(fs::is_regular_file(file()));

    fs::remove(file());
    fs::create_symlink("/dev/zero", file());
    EXPECT_TRUE(token_from_file_content(load()));

    const std::string padding(TOKEN_FILE_LIMIT - GOOD.size(), ' ');
    std::ofstream(file(), std::ios::trunc) << GOOD << padding;
    EXPECT_EQ(load(), GOOD) << "a file of exactly the limit is read";
    std::ofstream(file(), std::ios::trunc) << GOOD << padding << ' ';
    EXPECT_NE(load(), GOOD);
    EXPECT_EQ(read(file()).size(), TOKEN_LENGTH);
}

TEST_F(PlantedTokenFile, AFolderOthersControlIsNeitherReadNorWritten) {
    std::ofstream(file()) << GOOD;
    fs::permissions(folder(), fs::perms::owner_all | fs::perms::group_all);
    ::testing::internal::CaptureStderr();
    EXPECT_NE(load(), GOOD);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[NerovaBridge] not using " + folder().string() +
                  ": others may write to it; the token lasts for this run only\n");
    EXPECT_EQ(read(file()), GOOD);

    if (::geteuid() != 0) GTEST_SKIP() << "giving the folder to another user needs root";
    fs::permissions(folder(), fs::perms::owner_all);
    ASSERT_EQ(::chown(folder().c_str(), 65534, 65534), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_NE(load(), GOOD);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("belongs to another user"), std::string::npos);
    EXPECT_EQ(read(file()), GOOD);
}

}  // namespace

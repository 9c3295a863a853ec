#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/system.h"
#include "state/token.h"

using namespace nerova;

namespace {
const std::string GOOD = "Ab3dEf6hIj9lMn2pQr5tUv8xYz1bCd4F";
}

TEST(TokenFile, AcceptsTheTokenTrimmedOfWhiteSpace) {
    EXPECT_EQ(token_from_file_content(GOOD), GOOD);
    EXPECT_EQ(token_from_file_content(GOOD + "\r\n"), GOOD);
    EXPECT_EQ(token_from_file_content(" \t" + GOOD + "\t "), GOOD);
    EXPECT_EQ(token_from_file_content("\xE3\x80\x80" + GOOD), GOOD);
}

TEST(TokenFile, RejectsEverythingElse) {
    EXPECT_FALSE(token_from_file_content(GOOD.substr(1)));
    EXPECT_FALSE(token_from_file_content(GOOD + "A"));
    EXPECT_FALSE(token_from_file_content(GOOD.substr(1) + "-"));
    EXPECT_FALSE(token_from_file_content(GOOD.substr(1) + "_"));
    EXPECT_FALSE(token_from_file_content("\xEF\xBB\xBF" + GOOD));
    EXPECT_FALSE(token_from_file_content(GOOD.substr(2) + "\xC3\xA9"));  // 32 bytes, 31 characters
    EXPECT_FALSE(token_from_file_content(GOOD.substr(1) + "\xFF"));
    EXPECT_FALSE(token_from_file_content(""));
    EXPECT_FALSE(token_from_file_content(" \r\n\t"));
    EXPECT_FALSE(token_from_file_content(GOOD.substr(0, 16) + " " + GOOD.substr(16)));
}

TEST(TokenGeneration, MapsBytesModulo62InAlphabetOrder) {
    std::array<std::uint8_t, TOKEN_LENGTH> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 8);
    bytes[30] = 247;
    bytes[31] = 255;
    const std::string token = token_from_bytes(bytes);
    EXPECT_EQ(token.substr(0, 4), "AIQY");  // 0, 8, 16, 24
    EXPECT_EQ(token[8], 'C');               // 64 mod 62 = 2
    EXPECT_EQ(token[30], '9');              // 247 mod 62 = 61
    EXPECT_EQ(token[31], 'H');              // 255 mod 62 = 7
}

TEST(TokenGeneration, EveryTokenIs32AlphabetCharactersAndTokensDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string token = generate_token();
        ASSERT_EQ(token.size(), TOKEN_LENGTH);
        ASSERT_TRUE(token_from_file_content(token));
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(FallbackRandom, IsDeterminedByClockAndProcessId) {
    const auto a = fallback_random_bytes(32, 1'700'000'000'123'456'789ULL, 4242);
    EXPECT_EQ(a, fallback_random_bytes(32, 1'700'000'000'123'456'789ULL, 4242));
    EXPECT_NE(a, fallback_random_bytes(32, 1'700'000'000'123'456'790ULL, 4242));
    EXPECT_NE(a, fallback_random_bytes(32, 1'700'000'000'123'456'789ULL, 4243));
    // Before 1970 the seed is the constant alone.
    EXPECT_EQ(fallback_random_bytes(8, std::nullopt, 0), fallback_random_bytes(8, 0ULL, 0));
}

TEST(FallbackRandom, MatchesXorshift64StarByHand) {
    // Seed 0 XOR the constant, pid 0: one round computed independently.
    std::uint64_t x = 0x9E3779B97F4A7C15ULL;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    const auto expected = static_cast<std::uint8_t>((x * 0x2545F4914F6CDD1DULL) >> 56);
    EXPECT_EQ(fallback_random_bytes(1, 0ULL, 0)[0], expected);
}

class TokenStore : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("nerova-token-" + std::to_string(platform::process_id()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        folder = (root / "deep" / "NerovaBridge").string();
        file = (root / "deep" / "NerovaBridge" / "token.txt").string();
    }
    void TearDown() override {
        std::filesystem::permissions(root, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(root);
    }
    std::filesystem::path root;
    std::string folder, file;
};

TEST_F(TokenStore, CreatesFolderAndWritesExactly32Bytes) {
    const std::string token = load_or_create_token(folder, file);
    EXPECT_EQ(platform::read_file(file), token);
    EXPECT_EQ(load_or_create_token(folder, file), token);
}

TEST_F(TokenStore, KeepsAValidFileUntouchedAndReplacesAnInvalidOne) {
    std::filesystem::create_directories(folder);
    platform::write_file(file, GOOD + "\r\n");
    EXPECT_EQ(load_or_create_token(folder, file), GOOD);
    EXPECT_EQ(platform::read_file(file), GOOD + "\r\n");

    platform::write_file(file, "\xEF\xBB\xBF" + GOOD);
    platform::write_file(file + ".new", "half a tok");  // a write cut short by a crash
    const std::string fresh = load_or_create_token(folder, file);
    EXPECT_NE(fresh, GOOD);
    EXPECT_EQ(platform::read_file(file), fresh);
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
}

TEST_F(TokenStore, UnwritableFolderStillGivesATokenForThisRun) {
    // A file where the folder should be defeats even root.
    std::filesystem::create_directories(root);
    platform::write_file((root / "deep").string(), "not a folder");
    const std::string a = load_or_create_token(folder, file);
    const std::string b = load_or_create_token(folder, file);
    EXPECT_TRUE(token_from_file_content(a));
    EXPECT_NE(a, b);
    EXPECT_FALSE(std::filesystem::exists(file));
}

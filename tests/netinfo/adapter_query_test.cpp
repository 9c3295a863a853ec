#include <gtest/gtest.h>

#include <vector>

#include "netinfo/adapter_query.h"

namespace nerova::netinfo {
namespace {

// A stand-in for the system call: answers from a script and records the buffer sizes offered.
struct ScriptedQuery {
    std::vector<std::uint32_t> answers;
    std::vector<std::uint32_t> reported_sizes;
    std::vector<std::uint32_t> offered_sizes;

    std::uint32_t operator()(void*, std::uint32_t* size) {
        const std::size_t call = offered_sizes.size();
        offered_sizes.push_back(*size);
        if (call < reported_sizes.size()) *size = reported_sizes[call];
        return answers.at(call);
    }
};

TEST(AdapterQuery, StartsWith15360BytesAndGrowsToTheReportedSize) {
    ScriptedQuery query{{111, 0}, {40'000}, {}};
    const std::optional<AdapterBuffer> buffer = query_adapter_list(query);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->size(), 40'000u);
    EXPECT_EQ(query.offered_sizes, (std::vector<std::uint32_t>{15'360, 40'000}));
}

TEST(AdapterQuery, GivesUpAfterThreeOverflowAnswers) {
    ScriptedQuery query{{111, 111, 111, 0}, {20'000, 30'000, 40'000}, {}};
    EXPECT_FALSE(query_adapter_list(query));
    EXPECT_EQ(query.offered_sizes, (std::vector<std::uint32_t>{15'360, 20'000, 30'000}));
}

TEST(AdapterQuery, AnyOtherErrorEndsAtOnce) {
    ScriptedQuery query{{232, 0}, {}, {}};  // ERROR_NO_DATA
    EXPECT_FALSE(query_adapter_list(query));
    EXPECT_EQ(query.offered_sizes.size(), 1u);
}

}  // namespace
}  // namespace nerova::netinfo

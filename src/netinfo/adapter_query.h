// The buffer rule of the Windows adapter query, kept apart from the system call so that it can
// be tested with a stand-in for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace nerova::netinfo {

constexpr std::uint32_t ADAPTER_BUFFER_FIRST_SIZE = 15'360;
constexpr std::uint32_t ADAPTER_QUERY_BUFFER_OVERFLOW = 111;  // ERROR_BUFFER_OVERFLOW
constexpr int ADAPTER_QUERY_MAX_CALLS = 3;

// Caller-owned bytes, aligned for the records the system writes into them.
class AdapterBuffer {
public:
    explicit AdapterBuffer(std::uint32_t bytes)
        : storage_((bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)), bytes_(bytes) {}
    void* data() { return storage_.data(); }
    const void* data() const { return storage_.data(); }
    std::uint32_t size() const { return bytes_; }

private:
    std::vector<std::max_align_t> storage_;
    std::uint32_t bytes_;
};

// `query(buffer, size)` is called with a 15,360-byte buffer; while it answers 111 it is called
// again with a buffer of the size it reported, three calls at most. The filled buffer when the
// last answer is 0, otherwise nothing.
template <typename Query>
std::optional<AdapterBuffer> query_adapter_list(Query&& query) {
    std::uint32_t size = ADAPTER_BUFFER_FIRST_SIZE;
    for (int call = 1;; ++call) {
        AdapterBuffer buffer(size);
        const std::uint32_t result = query(buffer.data(), &size);
        if (result == 0) return buffer;
        if (result != ADAPTER_QUERY_BUFFER_OVERFLOW || call == ADAPTER_QUERY_MAX_CALLS) return std::nullopt;
    }
}

}  // namespace nerova::netinfo

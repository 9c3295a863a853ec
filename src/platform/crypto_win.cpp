#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

namespace nerova::platform {
namespace {

struct AlgorithmProvider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    explicit AlgorithmProvider(const wchar_t* algorithm) {
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) handle = nullptr;
    }
    ~AlgorithmProvider() {
        if (handle != nullptr) ::BCryptCloseAlgorithmProvider(handle, 0);
    }
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
};

}  // namespace

std::array<std::uint8_t, 20> sha1(std::string_view data) {
    std::array<std::uint8_t, 20> digest{};
    const AlgorithmProvider provider(BCRYPT_SHA1_ALGORITHM);
    if (provider.handle != nullptr) {
        ::BCryptHash(provider.handle, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                     static_cast<ULONG>(data.size()), digest.data(), static_cast<ULONG>(digest.size()));
    }
    return digest;
}

std::string base64(const std::uint8_t* data, std::size_t size) {
    constexpr DWORD FLAGS = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD length = 0;
    if (!::CryptBinaryToStringA(data, static_cast<DWORD>(size), FLAGS, nullptr, &length)) return {};
    std::string out(length, '\0');
    if (!::CryptBinaryToStringA(data, static_cast<DWORD>(size), FLAGS, out.data(), &length)) return {};
    out.resize(length);  // the second call reports the length without the terminating NUL
    return out;
}

}  // namespace nerova::platform

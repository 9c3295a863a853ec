#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include "platform/owned.h"

namespace nerova::platform {
namespace {

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle empty() { return nullptr; }
    static void close(Handle algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
};
using AlgorithmProvider = Owned<AlgorithmTraits>;

}  // namespace

std::array<std::uint8_t, 20> sha1(std::string_view data) {
    std::array<std::uint8_t, 20> digest{};
    AlgorithmProvider provider;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(provider.out(), BCRYPT_SHA1_ALGORITHM, nullptr, 0))) {
        ::BCryptHash(provider.get(), nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
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

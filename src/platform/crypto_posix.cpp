#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

namespace nerova::platform {

std::array<std::uint8_t, 20> sha1(std::string_view data) {
    std::array<std::uint8_t, 20> digest{};
    ::SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
    return digest;
}

std::string base64(const std::uint8_t* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int length = ::EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace nerova::platform

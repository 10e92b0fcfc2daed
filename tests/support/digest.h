// SHA-256 of test data, from OpenSSL's libcrypto: the corpus fixtures name every upload by it.
#pragma once

#include <openssl/evp.h>

#include <cstdio>
#include <string>
#include <string_view>

// Lower-case hexadecimal SHA-256 of `bytes`.
inline std::string sha256_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr)) return {};
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

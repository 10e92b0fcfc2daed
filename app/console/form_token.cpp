// HMAC-SHA256 form tokens with OpenSSL, and the secret they are keyed with.
#include "app/console/form_token.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <unistd.h>

#include "platform/files.h"

namespace {

constexpr std::size_t SECRET_BYTES = 32;

std::optional<std::string> read_secret(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string secret(SECRET_BYTES, '\0');
    if (platform::read_at(fd.get(), secret.data(), SECRET_BYTES, 0) !=
        static_cast<std::int64_t>(SECRET_BYTES))
        return std::nullopt;
    return secret;
}

}  // namespace

std::optional<std::string> console_secret(const std::string& path) {
    if (path.empty()) return std::nullopt;
    if (auto secret = read_secret(path)) return secret;
    unsigned char fresh[SECRET_BYTES];
    if (RAND_bytes(fresh, sizeof fresh) != 1) return std::nullopt;
    // Made under a temporary name and linked into place, so that two first runs agree on one.
    std::string temp = path + ".tmp-" + std::to_string(::getpid());
    platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    bool written = fd.valid() && platform::write_all(fd.get(), fresh, sizeof fresh) &&
                   platform::flush_file_data(fd.get()) && fd.close();
    // A link refused finds another first run's secret in place, which read_secret then reads.
    [[maybe_unused]] const bool linked = written && ::link(temp.c_str(), path.c_str()) == 0;
    ::unlink(temp.c_str());
    OPENSSL_cleanse(fresh, sizeof fresh);
    return read_secret(path);
}

namespace {

std::string mac_of(const std::string& secret, const TokenSubject& t, const std::string& expires) {
    // NUL separates the parts: none of them can hold one, so no two inputs run together.
    const std::string message = t.user + '\0' + t.root + '\0' + t.action + '\0' + t.folder +
                                '\0' + t.person_id + '\0' + t.newest_filed + '\0' + expires;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), mac, &length);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[mac[i] >> 4];
        hex += digits[mac[i] & 15];
    }
    return hex;
}

}  // namespace

std::string form_token(const std::string& secret, const TokenSubject& subject, std::time_t expires) {
    const std::string when = std::to_string(static_cast<long long>(expires));
    return when + "." + mac_of(secret, subject, when);
}

bool token_matches(const std::string& token, const std::string& secret, const TokenSubject& subject,
                   std::time_t now) {
    // At most 12 digits: a time far past any token's expiry, and no number that can overflow.
    const std::size_t dot = token.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 12) return false;
    const std::string when = token.substr(0, dot);
    long long expires = 0;
    for (char c : when) {
        if (c < '0' || c > '9') return false;
        expires = expires * 10 + (c - '0');
    }
    // A token good for longer than a token is ever made for was not made here.
    if (expires < now || expires > now + TOKEN_LIFETIME_SECONDS) return false;
    const std::string expected = mac_of(secret, subject, when);
    const std::string given = token.substr(dot + 1);
    return given.size() == expected.size() &&
           CRYPTO_memcmp(given.data(), expected.data(), expected.size()) == 0;
}

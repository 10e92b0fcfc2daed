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

std::string form_token(const std::string& secret, const std::string& user, const std::string& root,
                       const std::string& action, const std::string& applicant) {
    // NUL separates the parts: none of them can hold one, so no two inputs run together.
    std::string message = user + '\0' + root + '\0' + action + '\0' + applicant;
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

bool token_matches(const std::string& token, const std::string& secret, const std::string& user,
                   const std::string& root, const std::string& action,
                   const std::string& applicant) {
    std::string expected = form_token(secret, user, root, action, applicant);
    return token.size() == expected.size() &&
           CRYPTO_memcmp(token.data(), expected.data(), expected.size()) == 0;
}

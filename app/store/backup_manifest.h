// The manifest of a store backup (its form is described in store_copy.h): writing it, reading
// it back with every path checked, and the SHA-256 digests it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace store {

// One folder or regular file of a backup.
struct ManifestEntry {
    bool folder = false;
    std::uint64_t size = 0;  // files only
    std::string sha256;      // files only: 64 lower-case hexadecimal digits
};

// Entries by path relative to the backup's top ("Ann", "Ann/index.html"); sorted, so a parent
// comes before what it holds.
using Manifest = std::map<std::string, ManifestEntry>;

// The manifest's text for `entries`.
std::string format_manifest(const Manifest& entries);

// Reads the manifest's text into `entries`; false with `error` naming the line at the first
// malformed line, bad path, duplicate, entry whose parent is not a named folder, or when the end
// line is missing or counts otherwise.
bool parse_manifest(std::string_view text, Manifest& entries, std::string& error);

// SHA-256 of bytes given in pieces, with OpenSSL's EVP.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    // False when the digest could not be set up (ok() is false from then on).
    bool update(const void* data, std::size_t size);
    bool ok() const { return ok_; }
    // The digest in lower-case hexadecimal; empty on failure. Ends the digest.
    std::string hex();

  private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
    bool ok_ = false;
};

}  // namespace store

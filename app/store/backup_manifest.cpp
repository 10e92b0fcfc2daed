// The manifest of a store backup: its text, its checked reading, and SHA-256 digests.
#include "app/store/backup_manifest.h"

#include <openssl/evp.h>

#include <charconv>
#include <cstdio>

namespace store {

namespace {

constexpr std::string_view kFormLine = "store-backup 1";
constexpr std::size_t kDigestDigits = 64;

bool needs_escape(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '%';
}

std::string escape_path(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if (needs_escape(c)) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The path of a line, unescaped; false when an escape is malformed or a byte that must be
// escaped stands bare.
bool unescape_path(std::string_view text, std::string& path) {
    path.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '%') {
            if (needs_escape(c)) return false;
            path += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = hex_value(text[i + 1]);
        const int low = hex_value(text[i + 2]);
        if (high < 0 || low < 0) return false;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// Why `path` cannot name an entry inside the backup, or null when it can.
const char* path_flaw(const std::string& path) {
    if (path.empty()) return "an empty path";
    if (path.front() == '/') return "an absolute path";
    if (path.find('\0') != std::string::npos) return "a NUL byte in a path";
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('/', start);
        const std::string_view part =
            std::string_view(path).substr(start, end == std::string::npos ? end : end - start);
        if (part.empty()) return "an empty path component";
        if (part == "." || part == "..") return "a path leaving its folder (. or ..)";
        if (end == std::string::npos) return nullptr;
        start = end + 1;
    }
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool parse_count(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool is_digest(std::string_view text) {
    if (text.size() != kDigestDigits) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Reads one folder or file line (without its line end) into `path` and `entry`.
const char* parse_entry(std::string_view line, std::string& path, ManifestEntry& entry) {
    std::string_view rest;
    if (line.rfind("folder ", 0) == 0) {
        entry.folder = true;
        rest = line.substr(7);
    } else if (line.rfind("file ", 0) == 0) {
        entry.folder = false;
        rest = line.substr(5);
        const std::size_t digest_end = rest.find(' ');
        if (digest_end == std::string_view::npos || !is_digest(rest.substr(0, digest_end))) {
            return "no SHA-256 of 64 lower-case hexadecimal digits";
        }
        entry.sha256 = std::string(rest.substr(0, digest_end));
        rest = rest.substr(digest_end + 1);
        const std::size_t size_end = rest.find(' ');
        if (size_end == std::string_view::npos ||
            !parse_count(rest.substr(0, size_end), entry.size)) {
            return "no size in bytes";
        }
        rest = rest.substr(size_end + 1);
    } else {
        return "neither a folder nor a file line";
    }
    if (!unescape_path(rest, path)) return "a malformed %XX escape or a bare control byte";
    return path_flaw(path);
}

}  // namespace

std::string format_manifest(const Manifest& entries) {
    std::string text(kFormLine);
    text += '\n';
    for (const auto& [path, entry] : entries) {
        if (entry.folder) {
            text += "folder " + escape_path(path) + "\n";
        } else {
            text += "file " + entry.sha256 + " " + std::to_string(entry.size) + " " +
                    escape_path(path) + "\n";
        }
    }
    text += "end " + std::to_string(entries.size()) + "\n";
    return text;
}

bool parse_manifest(std::string_view text, Manifest& entries, std::string& error) {
    entries.clear();
    std::size_t line_number = 0;
    bool ended = false;
    while (!text.empty()) {
        const std::size_t line_end = text.find('\n');
        ++line_number;
        const std::string where = "manifest line " + std::to_string(line_number) + ": ";
        if (line_end == std::string_view::npos) {
            error = where + "cut short (no line end)";
            return false;
        }
        const std::string_view line = text.substr(0, line_end);
        text.remove_prefix(line_end + 1);
        if (ended) {
            error = where + "text after the end line";
            return false;
        }
        if (line_number == 1) {
            if (line != kFormLine) {
                error = where + "not a store backup manifest (\"" + std::string(kFormLine) +
                        "\" expected)";
                return false;
            }
            continue;
        }
        if (line.rfind("end ", 0) == 0) {
            std::uint64_t count = 0;
            if (!parse_count(line.substr(4), count) || count != entries.size()) {
                error = where + "the end line does not count the " +
                        std::to_string(entries.size()) + " entries before it";
                return false;
            }
            ended = true;
            continue;
        }
        std::string path;
        ManifestEntry entry;
        if (const char* flaw = parse_entry(line, path, entry)) {
            error = where + flaw;
            return false;
        }
        const std::string parent = parent_of(path);
        if (!parent.empty()) {
            const auto found = entries.find(parent);
            if (found == entries.end() || !found->second.folder) {
                error = where + "the folder of " + path + " is not named before it";
                return false;
            }
        }
        if (!entries.emplace(path, std::move(entry)).second) {
            error = where + path + " is named twice";
            return false;
        }
    }
    if (!ended) {
        error = "manifest cut short: no end line";
        return false;
    }
    return true;
}

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::update(const void* data, std::size_t size) {
    if (ok_ && size > 0) ok_ = EVP_DigestUpdate(context_.get(), data, size) == 1;
    return ok_;
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok_ || EVP_DigestFinal_ex(context_.get(), digest, &size) != 1) {
        ok_ = false;
        return {};
    }
    ok_ = false;  // a finished digest takes no more bytes
    std::string text;
    static constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace store

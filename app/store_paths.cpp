// Validation and composition of the paths of the applicant store.
#include "app/store_paths.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/applicant_page.h"
#include "cgi/html_escape.h"
#include "platform/files.h"

namespace {

bool is_control(unsigned char c) {
    return (c >= 0x01 && c <= 0x1F) || c == 0x7F;
}

// The length of the invisible format character that starts at `p` (UTF-8, `left` bytes
// available), or 0 when none does.
std::size_t format_character_length(const unsigned char* p, std::size_t left) {
    if (left >= 2 && p[0] == 0xD8 && p[1] == 0x9C) return 2;  // U+061C
    if (left < 3) return 0;
    if (p[0] == 0xEF) return p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;  // U+FEFF
    if (p[0] != 0xE2) return 0;
    if (p[1] == 0x80 && ((p[2] >= 0x8B && p[2] <= 0x8F) || (p[2] >= 0xAA && p[2] <= 0xAE)))
        return 3;  // U+200B to U+200F, U+202A to U+202E
    if (p[1] == 0x81 && (p[2] == 0xA0 || (p[2] >= 0xA6 && p[2] <= 0xA9)))
        return 3;  // U+2060, U+2066 to U+2069
    return 0;
}

bool is_dot_name(const char* text, std::size_t length) {
    return (length == 1 && text[0] == '.') || (length == 2 && text[0] == '.' && text[1] == '.');
}

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Composes dir "/" leaf; false when the whole path does not fit.
bool join_path(char* out, std::size_t capacity, const char* dir, const char* leaf) {
    int n = std::snprintf(out, capacity, "%s/%s", dir, leaf);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

// Whether `dir`/index.html is a list page: it starts with a list line.
bool folder_is_store_root(const char* dir) {
    static constexpr char kListLineStart[] = "<br><a href=\"";
    char start[sizeof kListLineStart - 1];
    char page[PATH_BUF_SIZE + sizeof PAGE_FILE_NAME];
    if (!join_path(page, sizeof page, dir, PAGE_FILE_NAME)) return false;
    return platform::read_file_start(page, start, sizeof start) ==
               static_cast<std::int64_t>(sizeof start) &&
           std::memcmp(start, kListLineStart, sizeof start) == 0;
}

}  // namespace

bool component_is_refused(const char* text) {
    std::size_t length = std::strlen(text);
    if (is_dot_name(text, length) || std::strcmp(text, PAGE_FILE_NAME) == 0) return true;
    // The store's own temporary names: the server never serves them, and a sweep for those of
    // killed runs could take such a file for one.
    if (std::strncmp(text, platform::TEMP_NAME_PREFIX, sizeof platform::TEMP_NAME_PREFIX - 1) == 0)
        return true;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '/' || c == '\\' || is_control(c)) return true;
        if (format_character_length(reinterpret_cast<const unsigned char*>(text) + i, length - i) !=
            0)
            return true;
    }
    return false;
}

bool store_root_is_refused(const char* root) {
    if (root[0] == '\0' || root[0] == '/' || root[0] == '\\') return true;
    if (is_ascii_letter(root[0]) && root[1] == ':') return true;
    const char* component = root;
    for (const char* p = root;; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\' || is_control(c)) return true;
        if (c == '/' || c == '\0') {
            std::size_t length = static_cast<std::size_t>(p - component);
            if (length == 0 || is_dot_name(component, length)) return true;
            if (c == '\0') return false;
            component = p + 1;
        }
    }
}

bool store_root_reaches_into_applicant(const char* root) {
    static char start[APPLICANT_PAGE_PROBE_SIZE];
    char folder[STORE_ROOT_SIZE];
    char page[STORE_ROOT_SIZE + sizeof PAGE_FILE_NAME];
    // The root itself and every folder on its way, each ending at a '/'.
    for (std::size_t i = 0;; ++i) {
        if (root[i] != '/' && root[i] != '\0') continue;
        if (i >= sizeof folder) return false;
        std::memcpy(folder, root, i);
        folder[i] = '\0';
        if (join_path(page, sizeof page, folder, PAGE_FILE_NAME)) {
            std::int64_t n = platform::read_file_start(page, start, sizeof start);
            if (n > 0 && looks_like_applicant_page(start, static_cast<std::size_t>(n))) return true;
        }
        if (root[i] == '\0') return false;
    }
}

bool compose_store_paths(StorePaths& paths, const char* root, const char* name,
                         const char* resume_href) {
    return join_path(paths.applicant_dir, sizeof paths.applicant_dir, root, name) &&
           join_path(paths.applicant_page_path, sizeof paths.applicant_page_path,
                     paths.applicant_dir, PAGE_FILE_NAME) &&
           join_path(paths.list_path, sizeof paths.list_path, root, PAGE_FILE_NAME) &&
           join_path(paths.resume_path, sizeof paths.resume_path, paths.applicant_dir,
                     resume_href) &&
           link_target_to(paths.link_buf, sizeof paths.link_buf, name);
}

const char* path_refused_before_writing(const StorePaths& paths) {
    if (folder_is_store_root(paths.applicant_dir)) return paths.applicant_page_path;
    if (platform::is_folder(paths.resume_path)) return paths.resume_path;
    return nullptr;
}

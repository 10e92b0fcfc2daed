// Validation and composition of the paths of the applicant store.
#include "app/store_paths.h"

#include <cstdio>
#include <cstring>

#include "cgi/html_escape.h"

namespace {

bool is_control(unsigned char c) {
    return (c >= 0x01 && c <= 0x1F) || c == 0x7F;
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

}  // namespace

bool component_is_refused(const char* text) {
    std::size_t length = std::strlen(text);
    if (is_dot_name(text, length) || std::strcmp(text, PAGE_FILE_NAME) == 0) return true;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '/' || c == '\\' || is_control(c)) return true;
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

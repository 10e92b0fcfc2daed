// List lines, composed with the page-text and link-target escapes.
#include "app/store/list_line.h"

#include <cstring>
#include <vector>

#include "app/store/store_files.h"
#include "cgi/cgi_request.h"
#include "cgi/html_escape.h"
#include "platform/files.h"

namespace store {

namespace {

// The longest line: the markup, the link target (three bytes per name byte) and the escaped
// name (at most six bytes per name byte).
std::size_t longest_line(std::size_t name_size) {
    return 32 + 9 * name_size;
}

}  // namespace

std::string list_line(std::string_view name) {
    const std::string text(name);
    std::vector<char> link(3 * text.size() + 1), escaped(6 * text.size() + 1);
    cgi::link_target_to(link.data(), link.size(), text.c_str());
    cgi::html_escape_to(escaped.data(), escaped.size(), text.c_str());
    return std::string("<br><a href=\"") + link.data() + "\">" + escaped.data() + "</a>\n";
}

bool read_whole(int fd, std::string* text) {
    const std::int64_t size = platform::file_size(fd);
    if (size < 0) return false;
    text->resize(static_cast<std::size_t>(size));
    return platform::read_at(fd, text->data(), text->size(), 0) == size;
}

std::int64_t length_without_cut_line(int list_fd, std::int64_t size) {
    if (size == 0) return 0;
    // Every line ends with LF; a list that does not was cut while a line was written.
    const std::int64_t window = static_cast<std::int64_t>(longest_line(1024));
    const std::int64_t start = size > window ? size - window : 0;
    std::string tail(static_cast<std::size_t>(size - start), '\0');
    const std::int64_t n = platform::read_at(list_fd, tail.data(), tail.size(), start);
    if (n != size - start) return -1;
    if (tail.back() == '\n') return size;
    const std::size_t last = tail.rfind('\n');
    if (last != std::string::npos) return start + static_cast<std::int64_t>(last) + 1;
    // No line end in the longest line's length: not a line of ours, so nothing is cut.
    return start == 0 ? 0 : size;
}

bool list_holds_line(int list_fd, const std::string& line, std::int64_t from) {
    std::vector<char> chunk(1 << 16);
    const std::size_t keep = line.size() - 1;  // a line across two reads
    std::int64_t offset = from;
    std::size_t held = 0;
    for (;;) {
        std::int64_t n = platform::read_at(list_fd, chunk.data() + held, chunk.size() - held, offset);
        if (n <= 0) return false;
        offset += n;
        held += static_cast<std::size_t>(n);
        if (memmem(chunk.data(), held, line.data(), line.size())) return true;
        if (held > keep) {
            std::memmove(chunk.data(), chunk.data() + held - keep, keep);
            held = keep;
        }
    }
}

}  // namespace store

namespace store {

std::vector<ListEntry> read_list(int list_fd) {
    static constexpr char kStart[] = "<br><a href=\"";
    std::string text;
    std::vector<ListEntry> entries;
    if (!read_whole(list_fd, &text)) return entries;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        ListEntry entry{text.substr(start, end - start), {}};
        start = end;
        if (entry.text.rfind(kStart, 0) == 0) {
            const std::size_t from = sizeof kStart - 1;
            const std::size_t quote = entry.text.find('"', from);
            if (quote != std::string::npos) {
                std::string target = entry.text.substr(from, quote - from);
                cgi::CgiRequest::url_decode(target.data());
                entry.folder = target.c_str();
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool write_list(int list_fd, const std::vector<ListEntry>& entries) {
    std::string text;
    for (const ListEntry& e : entries) text += e.text;
    return write_all_at(list_fd, text.data(), text.size(), 0) &&
           truncate_to(list_fd, static_cast<std::int64_t>(text.size())) &&
           platform::flush_file_data(list_fd);
}

}  // namespace store

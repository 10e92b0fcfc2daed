// The list page's lines: composing an applicant's line, and reading and repairing the list
// through the descriptor the store lock holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// The applicant's line: "<br><a href=\"<link target>\"><escaped name></a>\n". Names and link
// targets are escaped, so one line's text never occurs inside another line.
std::string list_line(std::string_view name);

// The whole file open on `fd`; false when it cannot be read.
bool read_whole(int fd, std::string* text);

// The list's length without a line cut short at its end (a crash in the middle of writing a
// line that was never acknowledged); -1 when its end cannot be read.
std::int64_t length_without_cut_line(int list_fd, std::int64_t size);

// Whether the list holds `line` at or after the offset `from`.
bool list_holds_line(int list_fd, const std::string& line, std::int64_t from = 0);

}  // namespace store

namespace store {

// One line of the list page as read back: its text with its line end, and the applicant folder
// its link names ("" for a line not of the list's form).
struct ListEntry {
    std::string text;
    std::string folder;
};
// The list's lines, read through the descriptor the store lock holds.
std::vector<ListEntry> read_list(int list_fd);
// Rewrites the list in place (its file is the lock: it is never replaced) and flushes it. The
// list is only ever shortened this way: written over the old bytes, then cut.
bool write_list(int list_fd, const std::vector<ListEntry>& entries);

}  // namespace store

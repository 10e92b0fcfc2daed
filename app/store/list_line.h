// The list page's lines: composing an applicant's line, and reading and repairing the list
// through the descriptor the store lock holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace store {

// The applicant's line: "<br><a href=\"<link target>\"><escaped name></a>\n". Names and link
// targets are escaped, so one line's text never occurs inside another line.
std::string list_line(std::string_view name);

// The whole file open on `fd`; false when it cannot be read.
bool read_whole(int fd, std::string* text);

// The list's length without a line cut short at its end (a crash in the middle of writing a
// line that was never acknowledged); -1 when its end cannot be read.
std::int64_t length_without_cut_line(int list_fd, std::int64_t size);

// Whether the list holds `line`.
bool list_holds_line(int list_fd, const std::string& line);

}  // namespace store

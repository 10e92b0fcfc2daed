// The thin layer over the operating system: binary streams, the millisecond tick,
// the process id and directory creation. Everything else reads as portable C++.
#pragma once

#include <cstdint>

namespace platform {

// Switches a file descriptor to binary mode (no line-end translation). POSIX streams never
// translate, so this only keeps the call sites honest; it returns 0 like its Windows twin.
int set_binary_mode(int fd);

// A 32-bit millisecond counter that wraps around after 2^32 ms; only differences are meaningful.
std::uint32_t millisecond_tick();

// The id of the running process.
unsigned long process_id();

// Creates one directory level with permissions 0777 less the umask. Returns 0 on success,
// -1 when the directory could not be made (it may already exist).
int make_directory(const char* path);

}  // namespace platform

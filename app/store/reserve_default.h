// The free-space reserve a store keeps when the server sets none, scaled to its file system.
#pragma once

#include <cstdint>

namespace store {

struct Reserve {
    std::uint64_t bytes = 0;
    std::uint64_t inodes = 0;
};

// The free space and inodes of a store's file system against its reserve.
struct Room {
    std::uint64_t free_bytes = 0;
    std::uint64_t free_inodes = 0;
    Reserve reserve;  // all 0 when the server turned the reserve off
    bool ok = true;   // free_bytes and free_inodes (where counted) at least the reserve
};

// The default reserve of a file system of `total_bytes` and `total_inodes` (0: one that makes
// inodes as needed, which keeps no inode reserve). Bytes: the larger of 5 % and the smaller of
// 1 GiB and 10 %, but never less than one largest submission needs, so that a small store volume
// stays open and a large one keeps its 5 %. Inodes the same way with 10,000 for 1 GiB.
Reserve default_reserve(std::uint64_t total_bytes, std::uint64_t total_inodes);

// What one largest submission can need: the largest body (its resume) and its pages.
inline constexpr std::uint64_t LARGEST_SUBMISSION_BYTES = (std::uint64_t{128} << 20) + (1 << 20);
// A submission's files and folders: applicant folder, page, record, resume, an earlier
// submission's folder, the list's and catalogue's staged copies.
inline constexpr std::uint64_t LARGEST_SUBMISSION_INODES = 16;

}  // namespace store

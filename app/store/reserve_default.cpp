// The default free-space reserve, scaled to the store's file system.
#include "app/store/reserve_default.h"

#include <algorithm>

#include "cgi/cgi_limits.h"

namespace store {

namespace {

static_assert(LARGEST_SUBMISSION_BYTES > static_cast<std::uint64_t>(cgi::MAX_BODY_SIZE),
              "a submission's resume is at most the largest body");

// The larger of 5 % and the smaller of `cap` and 10 %, at least `floor`. The two shares meet at
// 10 to 20 times `cap`, where the reserve is `cap`; above that it grows with the file system.
std::uint64_t scaled(std::uint64_t total, std::uint64_t cap, std::uint64_t floor) {
    const std::uint64_t five = total / 20;
    const std::uint64_t ten = total / 10;
    return std::max({five, std::min(cap, ten), floor});
}

}  // namespace

Reserve default_reserve(std::uint64_t total_bytes, std::uint64_t total_inodes) {
    Reserve reserve;
    reserve.bytes = scaled(total_bytes, std::uint64_t{1} << 30, LARGEST_SUBMISSION_BYTES);
    if (total_inodes != 0)
        reserve.inodes = scaled(total_inodes, 10000, LARGEST_SUBMISSION_INODES);
    return reserve;
}

}  // namespace store

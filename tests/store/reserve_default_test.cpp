// The default free-space reserve at the sizes the operations guide names: what one largest
// submission needs on a small volume, 10 % up to 1 GiB, 5 % on a large one; inodes alike.
#include "app/store/reserve_default.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

TEST(DefaultReserve, ScalesWithTheFileSystem) {
    struct Row {
        std::uint64_t bytes, inodes, want_bytes, want_inodes;
    };
    const Row rows[] = {
        {16 * MiB, 10100, store::LARGEST_SUBMISSION_BYTES, 1010},  // below one submission's need
        {512 * MiB, 32768, store::LARGEST_SUBMISSION_BYTES, 3276},
        {8 * GiB, 524288, 8 * GiB / 10, 524288 / 20},
        {15 * GiB, 100000, GiB, 10000},
        {100 * GiB, 6553600, 100 * GiB / 20, 6553600 / 20},
        {4 * GiB, 0, 4 * GiB / 10, 0},  // inodes made as needed: none kept
        {0, 100, store::LARGEST_SUBMISSION_BYTES, store::LARGEST_SUBMISSION_INODES},
    };
    for (const Row& row : rows) {
        const store::Reserve reserve = store::default_reserve(row.bytes, row.inodes);
        EXPECT_EQ(reserve.bytes, row.want_bytes) << row.bytes;
        EXPECT_EQ(reserve.inodes, row.want_inodes) << row.inodes;
    }
}

}  // namespace

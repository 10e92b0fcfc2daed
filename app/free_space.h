// The free-space reserve of the store's file system: submissions stop while less is free, so
// that a flood of uploads cannot fill the disk that the server, its logs and the store share.
#pragma once

#include <cstdint>

// The reserve when the server sets none: the larger of 1 GiB and 5 % of the file system.
inline constexpr std::uint64_t RESERVE_FLOOR_BYTES = std::uint64_t{1} << 30;
inline constexpr std::uint64_t RESERVE_PERCENT = 5;
// The environment variable through which the server's configuration may set the reserve
// instead, in bytes (0 turns it off): for a file system where 5 % is far more than needed, or a
// test machine with little space. A client cannot set it: the server passes request headers only
// as HTTP_* variables.
inline constexpr char RESERVE_VARIABLE[] = "APPLY_FREE_SPACE_RESERVE";

// False when the file system that holds `root` has less free space than the reserve. True also
// when its space cannot be told (a missing root is reported when filing fails).
bool store_has_room(const char* root);

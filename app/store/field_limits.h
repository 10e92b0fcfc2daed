// The longest values a submission may carry, each named and defined once.
#pragma once

#include <cstddef>

// The longest values a submission may carry, in bytes. Real applicants stay far below them; a
// longer value is refused, so that no field can swell the store or an answer. A name and a
// resume file name each become one file name, which no file system allows above 255 bytes; an
// e-mail address has at most 254 (RFC 5321); 64 KiB of interest is a long letter; a store root
// is a short relative path.
inline constexpr std::size_t NAME_MAX_BYTES = 255;
inline constexpr std::size_t MAIL_MAX_BYTES = 254;
inline constexpr std::size_t INTEREST_MAX_BYTES = 65536;
inline constexpr std::size_t DIRECTORY_MAX_BYTES = 1023;

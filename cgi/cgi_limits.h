// Size limits of the CGI library, each named and defined once: MAX_... is the most of something
// that is accepted by default (RequestOptions can raise the limits that cut data), ..._SIZE the
// bytes of a buffer (its terminator included).
#pragma once

#include <cstddef>
#include <cstdint>

namespace cgi {

/// Pairs collected by default (RequestOptions::max_pairs).
inline constexpr int MAX_PAIRS = 1024;
/// Bytes kept by default of a pair's name, of its file name and of its content-type line
/// (RequestOptions::max_name_bytes); a longer one is cut, which truncated(Limit::name) reports.
inline constexpr std::size_t MAX_NAME_BYTES = 4095;
/// A caller's buffer that holds any name, file name or content-type line kept under the default
/// limit, its terminator included.
inline constexpr std::size_t SCRATCH_SIZE = MAX_NAME_BYTES + 1;
/// Copy of argument 0 (the program's path).
inline constexpr std::size_t SCRIPT_PATH_SIZE = 1024;
/// Characters of the query kept by default (RequestOptions::max_query_chars).
inline constexpr std::size_t MAX_QUERY_CHARS = 4094;
/// Longest body read by default (128 MiB; RequestOptions::max_body_bytes); a longer or
/// negative length is refused.
inline constexpr std::int32_t MAX_BODY_SIZE = 134217728;
/// The read window a body streams through, unless the program chooses another size; a
/// multipart body no longer than this is read whole at construction.
inline constexpr std::size_t DEFAULT_BODY_WINDOW = std::size_t{256} << 10;
/// Uploads of one request that go into spool files; later ones are held in memory, so that a
/// body of many small file parts cannot use up the process's descriptors.
inline constexpr int MAX_SPOOLED_UPLOADS = 64;
/// Bytes kept by default of one item (name '=' value) of a URL-encoded body
/// (RequestOptions::max_value_bytes).
inline constexpr std::size_t MAX_VALUE_BYTES = 131071;
/// Bytes of a cookie name or value that SetCookie keeps by default before escaping
/// (RequestOptions::max_cookie_bytes).
inline constexpr std::size_t MAX_COOKIE_PART_BYTES = 1024;
/// Work area of the far-future expiry text (29 bytes while the year has four digits).
inline constexpr std::size_t EXPIRY_TEXT_SIZE = 256;
/// The largest width a GIF file can state: a longer text is drawn cut to it.
inline constexpr std::size_t MAX_GIF_DIMENSION = 65535;
/// The text every multipart CONTENT_TYPE of the fixed form starts with.
inline constexpr char MULTIPART_PREFIX[] = "multipart/form-data; boundary=";

}  // namespace cgi

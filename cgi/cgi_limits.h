// Size limits of the CGI library, each named and defined once: MAX_... is the most of something
// that is accepted, ..._SIZE the bytes of a buffer (its terminator included).
#pragma once

#include <cstddef>
#include <cstdint>

// Entries of the form pair table.
inline constexpr int MAX_PAIRS = 1024;
// Scratch buffers for a pair's name, file name and content-type line, and the caller buffers
// that get_file and get_cookie fill.
inline constexpr std::size_t SCRATCH_SIZE = 4096;
// Copy of argument 0 (the program's path).
inline constexpr std::size_t SCRIPT_PATH_SIZE = 1024;
// Decoded query string: at most MAX_QUERY_CHARS characters are kept.
inline constexpr std::size_t QUERY_BUF_SIZE = 4096;
inline constexpr std::size_t MAX_QUERY_CHARS = 4094;
// Largest multipart body that is read (128 MiB); longer or negative lengths are refused.
inline constexpr std::int32_t MAX_BODY_SIZE = 134217728;
// The read window a multipart body streams through, unless the program chooses another size; a
// body no longer than this is read whole at construction.
inline constexpr std::size_t DEFAULT_BODY_WINDOW = std::size_t{256} << 10;
// Uploads of one request that go into spool files; later ones are held in memory, so that a body
// of many small file parts cannot use up the process's descriptors.
inline constexpr int MAX_SPOOLED_UPLOADS = 64;
// One raw item (name '=' value) of a URL-encoded body.
inline constexpr std::size_t RAW_PAIR_BUF_SIZE = 131072;
// Bytes of a cookie name or value that SetCookie keeps before escaping.
inline constexpr std::size_t MAX_COOKIE_PART_BYTES = 1024;
// Work areas of SetCookie: one escaped name or value, and the joined "name=value".
inline constexpr std::size_t ESCAPED_PART_SIZE = 2047;
inline constexpr std::size_t JOINED_COOKIE_SIZE = 4095;
// get_cookie: the copy of HTTP_COOKIE (its first 4095 bytes) and the work area of one name.
inline constexpr std::size_t COOKIE_HEADER_SIZE = SCRATCH_SIZE;
inline constexpr std::size_t COOKIE_NAME_SIZE = 1024;
// Work area of the default expiry text (29 bytes while the year has four digits).
inline constexpr std::size_t EXPIRY_TEXT_SIZE = 256;
// The largest width a GIF file can state: a longer text is drawn cut to it.
inline constexpr std::size_t MAX_GIF_DIMENSION = 65535;
// The text every multipart CONTENT_TYPE starts with.
inline constexpr char MULTIPART_PREFIX[] = "multipart/form-data; boundary=";

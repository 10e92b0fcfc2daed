// Fuzz target: the text codecs (url_decode, escape_percent, escape_backslash, find_text and
// the small helpers), each on a buffer of exactly the size its contract allows.
//
// Input layout: one byte choosing the escapers' spare room, one byte choosing how many
// positions find_text scans, the needle '\n' the text.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cgi/cgi_request.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::string_view kPercentSet = "&;`'\"|*?~<>^()[]{}$\\ ";
constexpr std::string_view kBackslashSet = "&;`'\"|*?~<>^()[]{}$\\";

bool in_set(std::string_view set, char c) {
    return c != '\0' && set.find(c) != set.npos;
}

std::size_t count_in(std::string_view set, std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += in_set(set, c) ? 1 : 0;
    return n;
}

// A heap copy of `text` in a buffer of exactly `capacity` bytes (at least the text and NUL).
std::unique_ptr<char[]> buffer_with(std::string_view text, std::size_t capacity) {
    auto buffer = std::make_unique<char[]>(capacity);
    std::memcpy(buffer.get(), text.data(), text.size());
    buffer[text.size()] = '\0';
    return buffer;
}

void check_url_decode(const std::string& text) {
    auto buffer = buffer_with(text, text.size() + 1);
    CgiRequest::url_decode(buffer.get());
    FUZZ_CHECK(std::strlen(buffer.get()) <= text.size());
    if (text.find('%') == std::string::npos) FUZZ_CHECK(text == buffer.get());
}

void check_escape_percent(const std::string& text, std::size_t spare) {
    std::size_t needed = text.size() + 2 * count_in(kPercentSet, text) + 1;
    std::size_t capacity = text.size() + 1 + spare % (needed - text.size());
    auto buffer = buffer_with(text, capacity);
    bool escaped = CgiRequest::escape_percent(buffer.get(), capacity);
    FUZZ_CHECK(escaped == (capacity >= needed));
    if (!escaped) {
        FUZZ_CHECK(text == buffer.get());
        return;
    }
    std::string result = buffer.get();
    FUZZ_CHECK(result.size() + 1 == needed);
    FUZZ_CHECK(count_in(kPercentSet, result) == 0);
    // Without a '%' of its own the text comes back whole through the decoder.
    if (text.find('%') == std::string::npos) {
        CgiRequest::url_decode(buffer.get());
        FUZZ_CHECK(text == buffer.get());
    }
}

void check_escape_backslash(const std::string& text, std::size_t spare) {
    std::size_t needed = text.size() + count_in(kBackslashSet, text) + 1;
    std::size_t capacity = text.size() + 1 + spare % (needed - text.size());
    auto buffer = buffer_with(text, capacity);
    bool escaped = CgiRequest::escape_backslash(buffer.get(), capacity);
    FUZZ_CHECK(escaped == (capacity >= needed));
    if (!escaped) {
        FUZZ_CHECK(text == buffer.get());
        return;
    }
    // Every member is preceded by exactly one added backslash: taking those away gives the text.
    std::string_view result = buffer.get();
    FUZZ_CHECK(result.size() + 1 == needed);
    std::string restored;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (result[i] == '\\') {
            FUZZ_CHECK(i + 1 < result.size() && in_set(kBackslashSet, result[i + 1]));
            ++i;
        } else {
            FUZZ_CHECK(!in_set(kBackslashSet, result[i]));
        }
        restored += result[i];
    }
    FUZZ_CHECK(restored == text);
}

void check_find_text(std::string_view bytes, const std::string& needle, std::size_t positions) {
    if (needle.empty()) return;
    // The text holds exactly what the contract asks of the caller: n + strlen(needle) - 1 bytes.
    std::size_t n = std::min(positions, bytes.size());
    std::size_t length = n + needle.size() - 1;
    std::string padded(bytes.substr(0, length));
    padded.resize(length, '\0');
    auto text = std::make_unique<char[]>(length);
    std::memcpy(text.get(), padded.data(), length);
    const char* found =
        CgiRequest::find_text(text.get(), static_cast<std::int32_t>(n), needle.c_str());
    const char* expected = nullptr;
    for (std::size_t p = 0; p < n && !expected; ++p) {
        if (std::memcmp(text.get() + p, needle.data(), needle.size()) == 0)
            expected = text.get() + p;
    }
    FUZZ_CHECK(found == expected);
}

void check_small_helpers(const std::string& text) {
    for (char c : {'=', '&', '%', '\x80', '\0'}) {
        const char* hit = std::strchr(text.c_str(), c);
        std::int32_t expected =
            (c != '\0' && hit) ? static_cast<std::int32_t>(hit - text.c_str()) : -1;
        FUZZ_CHECK(CgiRequest::index_of(text.c_str(), c) == expected);
    }
    std::string plus = text;
    CgiRequest::plus_to_space(plus.data());
    FUZZ_CHECK(plus.find('+') == std::string::npos && std::strlen(plus.c_str()) == text.size());
    CgiRequest::space_to_plus(plus.data());
    FUZZ_CHECK(plus.find(' ') == std::string::npos && std::strlen(plus.c_str()) == text.size());
    for (std::size_t i = 0; i + 1 < text.size(); ++i) CgiRequest::hex_pair_value(text.c_str() + i);
    for (unsigned char c : text) {
        unsigned value = static_cast<unsigned>(
            std::stoul(std::string{CgiRequest::hex_high(c), CgiRequest::hex_low(c)}, nullptr, 16));
        FUZZ_CHECK(value == c);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t spare = data[0];
    const std::size_t positions = data[1];
    InputReader input(data + 2, size - 2);
    std::string needle = c_text(input.line());
    std::string_view bytes = input.remainder();
    std::string text = c_text(bytes);

    check_url_decode(text);
    check_escape_percent(text, spare);
    check_escape_backslash(text, spare);
    check_find_text(bytes, needle, positions);
    check_small_helpers(text);
    return 0;
}

// The form pair table: collected once on the first lookup, then searched linearly; and the
// form value's own operations.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "cgi/body_readers.h"
#include "cgi/cgi_request.h"
#include "cgi/text_copy.h"

namespace cgi {

using detail::copy_text;

namespace {
// Whether `text` fits a caller's buffer of `capacity` bytes (a null buffer asks for nothing).
bool fits(const char* out, std::size_t capacity, const char* text) {
    return !out || strnlen(text, capacity) < capacity;
}
}  // namespace

void CgiRequest::collect_pairs() {
    if (collected) return;
    collected = true;
    detail::ReadPair read;
    read.max_text = options_.max_name_bytes;
    auto next = [&] {
        try {
            return was_post_ ? get_POST_pair(read) : get_GET_pair(read);
        } catch (const std::bad_alloc&) {
            return false;  // no memory for a name: the pairs read so far stand
        }
    };
    while (pairs.size() < options_.max_pairs) {
        if (!next()) return;
        if (read.cut) note_cut(Limit::name);
        if (!append_pair(read)) return;
    }
    // One more pair means pairs were dropped. The original design never reads past the limit,
    // so a program that ends the process on an unreadable part does not look.
    const bool may_look =
        !(is_multipart_ && options_.unreadable_body == UnreadableBody::end_process);
    if (may_look && next()) note_cut(Limit::pairs);
}

bool CgiRequest::get_POST_pair(detail::ReadPair& out) {
    if (is_multipart_) return get_multipart_pair(out);
    return get_urlencoded_pair(out);
}

// One part from the multipart reader. A body it cannot read ends the process, or, when the
// program asked for a report, collection; so does, under a report, a part cut short.
bool CgiRequest::get_multipart_pair(detail::ReadPair& out) {
    if (content_length_ <= 0 || unreadable_seen) return false;
    using Next = detail::MultipartReader::Next;
    const bool report = options_.unreadable_body == UnreadableBody::report;
    const Next next = readers->multipart.next(out, report && options_.skip_preamble, report);
    sync_body_length();
    switch (next) {
        case Next::part:
            if (!report || out.complete) return true;
            break;
        case Next::unreadable:
            if (!report) end_request(0);
            break;
        case Next::end:
            if (!report || out.complete) return false;
            break;
        case Next::no_memory:
            return false;
    }
    unreadable_seen = true;
    return false;
}

// Stores one pair. Its texts share one allocation: name, file name, content-type line and, unless
// the reader gave the value a buffer or a file of its own (which the pair takes over), the value.
// False when the memory cannot be had, which ends collection with the pairs stored so far.
bool CgiRequest::append_pair(detail::ReadPair& read) {
    // A text ends at its first NUL byte, as it always has.
    const std::size_t name_size = std::strlen(read.name.c_str()) + 1;
    const std::size_t file_name_size = std::strlen(read.file_name.c_str()) + 1;
    const std::size_t file_type_size = std::strlen(read.file_type.c_str()) + 1;
    const std::size_t value_len = static_cast<std::size_t>(read.length);
    const bool value_held = read.owned || read.file.valid();
    const std::size_t value_size = value_held ? 0 : value_len + 1;

    FormPair pair;
    try {
        pair.storage = std::make_unique_for_overwrite<char[]>(name_size + file_name_size +
                                                              file_type_size + value_size);
        if (value_held) pair.held = std::make_unique<detail::HeldValue>();
        if (pairs.size() == pairs.capacity()) {
            pairs.reserve(std::min<std::size_t>(options_.max_pairs,
                                                std::max<std::size_t>(16, 2 * pairs.size())));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    char* at = pair.storage.get();
    pair.name = at;
    at = static_cast<char*>(std::memcpy(at, read.name.c_str(), name_size)) + name_size;
    pair.file_name = at;
    at = static_cast<char*>(std::memcpy(at, read.file_name.c_str(), file_name_size)) +
         file_name_size;
    pair.file_type = at;
    at = static_cast<char*>(std::memcpy(at, read.file_type.c_str(), file_type_size)) +
         file_type_size;
    if (read.file.valid()) {
        pair.value = nullptr;  // mapped on the first lookup that wants the bytes
        pair.held->upload_file = std::move(read.file);
    } else if (read.owned) {
        pair.value = read.owned.get();
        pair.held->long_value = std::move(read.owned);
    } else {
        std::memcpy(at, read.data, value_len);
        at[value_len] = '\0';
        pair.value = at;
    }
    pair.value_len = read.length;
    pairs.push_back(std::move(pair));  // cannot throw: room was reserved
    return true;
}

FormPair* CgiRequest::find_value(const char* name) {
    collect_pairs();
    if (!name) return nullptr;
    for (FormPair& pair : pairs) {
        if (std::strcmp(pair.name, name) == 0) return &pair;
    }
    return nullptr;
}

FormPair* CgiRequest::pair_at(std::int32_t index) {
    collect_pairs();
    if (index < 0 || index >= pair_count()) return nullptr;
    return &pairs[static_cast<std::size_t>(index)];
}

const char* FormPair::bytes() {
    if (!value && held && held->upload_file.valid() &&
        held->upload_view.map(held->upload_file.get(), static_cast<std::size_t>(value_len)))
        value = held->upload_view.data();
    return value;
}

int FormPair::first_byte() const {
    if (value_len <= 0) return -1;
    if (value) return static_cast<unsigned char>(value[0]);
    unsigned char byte = 0;
    if (!held || platform::read_at(held->upload_file.get(), &byte, 1, 0) != 1) return -1;
    return byte;
}

int FormPair::file() const {
    return held ? held->upload_file.get() : -1;
}

const char* CgiRequest::get_value(const char* name) {
    FormPair* pair = find_value(name);
    return pair ? pair->bytes() : nullptr;
}

const char* CgiRequest::get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                                 std::size_t file_name_capacity, char* file_type_out,
                                 std::size_t file_type_capacity) {
    FormPair* pair = find_value(name);
    if (!pair) return nullptr;
    if (length_out) *length_out = pair->value_len;
    if (!fits(file_name_out, file_name_capacity, pair->file_name) ||
        !fits(file_type_out, file_type_capacity, pair->file_type))
        note_cut(Limit::buffer);
    if (file_name_out) copy_text(file_name_out, file_name_capacity, pair->file_name);
    if (file_type_out) copy_text(file_type_out, file_type_capacity, pair->file_type);
    return pair->bytes();
}

int CgiRequest::upload_descriptor(const char* name) {
    FormPair* pair = find_value(name);
    return pair ? pair->file() : -1;
}

bool CgiRequest::next_pair(char* name_out, std::size_t name_capacity, char* value_out,
                           std::size_t value_capacity) {
    collect_pairs();
    if (iter_pos >= pair_count()) return false;
    FormPair& pair = pairs[static_cast<std::size_t>(iter_pos)];
    const char* value = pair.bytes();
    if (!value) value = "";
    // An upload stops at its first NUL, as a text does; that is not a cut.
    if (!fits(name_out, name_capacity, pair.name) || !fits(value_out, value_capacity, value))
        note_cut(Limit::buffer);
    copy_text(name_out, name_capacity, pair.name);
    copy_text(value_out, value_capacity, value);
    ++iter_pos;
    return true;
}

}  // namespace cgi

// The form pair table: collected once on the first lookup, then searched linearly.
#include <algorithm>
#include <cstring>
#include <new>

#include "cgi/cgi_request.h"
#include "cgi/text_copy.h"
#include "trace/trace_channels.h"

namespace {
// Scratch for the pair being read. Process-wide: collection runs once per process.
char name_scratch[SCRATCH_SIZE];
char file_name_scratch[SCRATCH_SIZE];
char file_type_scratch[SCRATCH_SIZE];
}  // namespace

void CgiRequest::collect_pairs() {
    if (pair_count >= 0) return;
    pair_count = 0;
    cgi_trace.log("collect_pairs: was_post = %d\n", was_post);
    // A query value can never be longer than the query buffer.
    char query_value[QUERY_BUF_SIZE];
    while (pair_count < MAX_PAIRS) {
        file_name_scratch[0] = '\0';
        file_type_scratch[0] = '\0';
        ValueRef value;
        bool found;
        if (was_post) {
            found = get_POST_pair(name_scratch, &value, file_name_scratch, file_type_scratch);
        } else {
            found = get_GET_pair(name_scratch, query_value, sizeof query_value);
            value.data = query_value;
            value.length = static_cast<std::int32_t>(std::strlen(query_value));
        }
        if (!found) break;
        if (!append_pair(name_scratch, value, file_name_scratch, file_type_scratch)) break;
    }
}

bool CgiRequest::get_POST_pair(char* name_out, ValueRef* value_out, char* file_name_out,
                               char* file_type_out) {
    if (is_multipart) return get_multipart_pair(name_out, value_out, file_name_out, file_type_out);
    return get_urlencoded_pair(name_out, value_out);
}

// Stores one pair. Its texts share one allocation: name, file name, content-type line and, unless
// the reader gave the value a buffer or a file of its own (which the pair takes over), the value.
// False when the memory cannot be had, which ends collection with the pairs stored so far.
bool CgiRequest::append_pair(const char* name, ValueRef& value, const char* file_name,
                             const char* file_type) {
    const std::size_t name_size = std::strlen(name) + 1;
    const std::size_t file_name_size = std::strlen(file_name) + 1;
    const std::size_t file_type_size = std::strlen(file_type) + 1;
    const std::size_t value_len = static_cast<std::size_t>(value.length);
    const bool value_held = value.owned || value.file.valid();
    const std::size_t value_size = value_held ? 0 : value_len + 1;

    FormPair pair;
    try {
        pair.storage = std::make_unique_for_overwrite<char[]>(name_size + file_name_size +
                                                              file_type_size + value_size);
        if (pairs.size() == pairs.capacity()) {
            pairs.reserve(
                std::min<std::size_t>(MAX_PAIRS, std::max<std::size_t>(16, 2 * pairs.size())));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    char* at = pair.storage.get();
    pair.name = at;
    at = static_cast<char*>(std::memcpy(at, name, name_size)) + name_size;
    pair.file_name = at;
    at = static_cast<char*>(std::memcpy(at, file_name, file_name_size)) + file_name_size;
    pair.file_type = at;
    at = static_cast<char*>(std::memcpy(at, file_type, file_type_size)) + file_type_size;
    if (value.file.valid()) {
        pair.value = nullptr;  // mapped on the first lookup that wants the bytes
        pair.upload_file = std::move(value.file);
    } else if (value.owned) {
        pair.value = value.data;
        pair.long_value = std::move(value.owned);
    } else {
        std::memcpy(at, value.data, value_len);
        at[value_len] = '\0';
        pair.value = at;
    }
    pair.value_len = value.length;
    pairs.push_back(std::move(pair));  // cannot throw: room was reserved
    pair_count = static_cast<std::int32_t>(pairs.size());
    return true;
}

// The first pair named exactly `name` (collecting the pairs on first use), or null.
FormPair* CgiRequest::find_pair(const char* name) {
    if (pair_count < 0) collect_pairs();
    if (!name) return nullptr;
    for (FormPair& pair : pairs) {
        if (std::strcmp(pair.name, name) == 0) return &pair;
    }
    return nullptr;
}

// The pair's value bytes; an upload in a spool file is mapped the first time. Null only when
// such a file cannot be mapped (no address space left).
const char* CgiRequest::value_of(FormPair& pair) {
    if (!pair.value && pair.upload_file.valid() &&
        pair.upload_view.map(pair.upload_file.get(), static_cast<std::size_t>(pair.value_len)))
        pair.value = pair.upload_view.data();
    return pair.value;
}

const char* CgiRequest::get_value(const char* name) {
    FormPair* pair = find_pair(name);
    return pair ? value_of(*pair) : nullptr;
}

const char* CgiRequest::get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                                 char* file_type_out) {
    return get_file(name, length_out, file_name_out, SCRATCH_SIZE, file_type_out, SCRATCH_SIZE);
}

const char* CgiRequest::get_file(const char* name, std::int32_t* length_out, char* file_name_out,
                                 std::size_t file_name_capacity, char* file_type_out,
                                 std::size_t file_type_capacity) {
    FormPair* pair = find_pair(name);
    if (!pair) return nullptr;
    if (length_out) *length_out = pair->value_len;
    if (file_name_out) copy_text(file_name_out, file_name_capacity, pair->file_name);
    if (file_type_out) copy_text(file_type_out, file_type_capacity, pair->file_type);
    return value_of(*pair);
}

int CgiRequest::upload_descriptor(const char* name) {
    FormPair* pair = find_pair(name);
    return pair ? pair->upload_file.get() : -1;
}

bool CgiRequest::next_pair(char* name_out, std::size_t name_capacity, char* value_out,
                           std::size_t value_capacity) {
    if (pair_count < 0) collect_pairs();
    if (iter_pos >= pair_count) return false;
    FormPair& pair = pairs[static_cast<std::size_t>(iter_pos)];
    const char* value = value_of(pair);
    copy_text(name_out, name_capacity, pair.name);
    copy_text(value_out, value_capacity, value ? value : "");  // an upload stops at its first NUL
    ++iter_pos;
    return true;
}

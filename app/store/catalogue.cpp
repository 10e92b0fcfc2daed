// Reading the catalogue with simdjson (its DOM parser picks the machine's fastest kernel at run
// time), and rewriting it.
#include "app/store/catalogue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <simdjson.h>

#include "app/store/record.h"
#include "app/store/store_files.h"

namespace store {

namespace {

// Reads one catalogue line into `line`, copying each text into `arena`. `text` must be followed
// by SIMDJSON_PADDING readable bytes.
bool parse_catalogue_line(simdjson::dom::parser& parser, std::string_view text, char*& arena,
                          CatalogueLine& line) {
    simdjson::dom::object object;
    if (parser.parse(text.data(), text.size(), false).get(object)) return false;
    for (auto [key, value] : object) {
        std::string_view* target = key == "name" ? &line.name : key == "mail" ? &line.mail
                                 : key == "interest" ? &line.interest : key == "resume" ? &line.resume
                                 : key == "filed" ? &line.filed : key == "folder" ? &line.folder
                                 : key == "stamp" ? &line.stamp : nullptr;
        std::string_view field;
        if (target && !value.get(field)) {
            // An unescaped text is never longer than its JSON form, so the arena (as large as
            // the file) always has room.
            std::memcpy(arena, field.data(), field.size());
            *target = std::string_view(arena, field.size());
            arena += field.size();
        }
        std::int64_t number = 0;
        if (key == "resume_size" && !value.get(number)) line.resume_size = number;
    }
    line.text = text;
    return !line.name.empty() && !line.filed.empty() && !line.folder.empty();
}

}  // namespace

std::string catalogue_line(const Record& record, std::string_view folder) {
    return record_json(record, folder, stamp_of_filed(record.filed));
}

Catalogue read_catalogue(const ApplicantStore& store) {
    Catalogue catalogue;
    simdjson::padded_string text;
    if (simdjson::padded_string::load(store.catalogue_path()).get(text)) {
        if (exists(store.catalogue_path())) return catalogue;
        // A store filed before the catalogue existed: read the records themselves.
        std::vector<std::pair<std::string, std::string>> all;  // filed, line
        for (const std::string& folder : store.folder_names())
            if (auto a = store.read_folder(folder))
                for (const StoredSubmission& s : a->submissions)
                    if (s.record) all.emplace_back(s.record->filed, catalogue_line(*s.record, folder));
        std::stable_sort(all.begin(), all.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        simdjson::dom::parser parser;
        for (auto& [filed, text_of_line] : all) {
            std::string& line = catalogue.owned_.emplace_back(std::move(text_of_line));
            std::string& arena = catalogue.owned_.emplace_back(line.size(), '\0');
            line.reserve(line.size() + simdjson::SIMDJSON_PADDING);
            char* at = arena.data();
            CatalogueLine parsed;
            if (parse_catalogue_line(parser, line, at, parsed)) catalogue.lines.push_back(parsed);
        }
        return catalogue;
    }
    // Each line is parsed where it lies: what follows a line (the next lines, then the padding)
    // may be read past its end by the parser. The buffer holds a copy of the file (the lines'
    // own texts) and then the fields' texts.
    catalogue.buffer_ = std::make_unique<char[]>(2 * text.size() + 1);
    char* copy_of_text = catalogue.buffer_.get();
    std::memcpy(copy_of_text, text.data(), text.size());
    char* arena = copy_of_text + text.size();
    simdjson::dom::parser parser;
    std::string_view all(text.data(), text.size());
    catalogue.lines.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = std::min(all.find('\n', start), all.size());
        CatalogueLine line;
        // A line cut short by a crash (the catalogue is appended without a flush) is skipped.
        if (parse_catalogue_line(parser, all.substr(start, end - start), arena, line)) {
            line.text = std::string_view(copy_of_text + start, end - start);
            catalogue.lines.push_back(line);
        }
        start = end + 1;
    }
    return catalogue;
}

bool write_catalogue(const ApplicantStore& store, const std::string& text) {
    platform::UniqueFd fd(
        ::open(store.catalogue_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    return fd.valid() &&
           ::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           truncate_to(fd.get(), static_cast<std::int64_t>(text.size())) &&
           platform::flush_file_data(fd.get()) && fd.close();
}

}  // namespace store

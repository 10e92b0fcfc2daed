// Reading and erasing applicants of one store root, in the store's on-disk format.
#include "app/admin/staff_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <simdjson.h>
#include <sstream>
#include <unordered_set>

#include "cgi/cgi_request.h"
#include "app/store/store_files.h"
#include "cgi/html_escape.h"

namespace fs = std::filesystem;

namespace {

constexpr char LINE_START[] = "<br><a href=\"";
constexpr char ERASE_PREFIX[] = ".tmp-erase-";

// Reads one catalogue line with simdjson (its DOM parser picks the machine's fastest kernel at
// run time) into `line`, copying each text into `arena`. `text` must be followed by
// SIMDJSON_PADDING readable bytes.
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

bool is_reserved_name(const std::string& name) {
    return name == "." || name == ".." || name.rfind("index.", 0) == 0 ||
           name.rfind(platform::TEMP_NAME_PREFIX, 0) == 0;
}

std::string catalogue_line(const Submission& s) {
    nlohmann::json j = {{"name", s.name},     {"mail", s.mail},   {"interest", s.interest},
                        {"resume", s.resume}, {"resume_size", s.resume_size},
                        {"filed", s.filed},   {"folder", s.folder}, {"stamp", s.stamp}};
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

StoreLock::StoreLock(const std::string& list_path)
    : list_(::open(list_path.c_str(), O_RDWR | O_CLOEXEC)) {
    if (list_.valid()) lock_.emplace(list_.get());
}

std::optional<StaffStore> StaffStore::open(const std::string& root, std::string& error) {
    using Refusal = store::ApplicantStore::Refusal;
    Refusal why = Refusal::none;
    auto opened = store::ApplicantStore::open(root, &why);
    if (!opened) {
        error = (why == Refusal::missing ? "no such store root: " : "not a store root: ") + root;
        return std::nullopt;
    }
    return StaffStore(root, std::move(*opened));
}

Submission CatalogueLine::submission() const {
    return {std::string(folder), std::string(stamp),    std::string(name),  std::string(mail),
            std::string(interest), std::string(resume), std::string(filed), resume_size};
}

Catalogue StaffStore::read_catalogue() const {
    Catalogue catalogue;
    simdjson::padded_string text;
    if (simdjson::padded_string::load(catalogue_path()).get(text)) {
        if (fs::exists(catalogue_path())) return catalogue;
        // A store filed before the catalogue existed: read the records themselves.
        std::vector<Submission> all;
        for (const std::string& folder : applicant_folders())
            if (auto a = read_applicant(folder))
                all.insert(all.end(), a->submissions.rbegin(), a->submissions.rend());
        std::stable_sort(all.begin(), all.end(),
                         [](const Submission& a, const Submission& b) { return a.filed < b.filed; });
        simdjson::dom::parser parser;
        for (const Submission& s : all) {
            std::string& line = catalogue.owned_.emplace_back(catalogue_line(s));
            std::string& arena = catalogue.owned_.emplace_back(line.size(), '\0');
            line.reserve(line.size() + simdjson::SIMDJSON_PADDING);
            char* at = arena.data();
            CatalogueLine parsed;
            if (parse_catalogue_line(parser, line, at, parsed)) catalogue.lines.push_back(parsed);
        }
        return catalogue;
    }
    // Each line is parsed where it lies: what follows a line (the next lines, then the padding)
    // may be read past its end by the parser.
    // The buffer holds a copy of the file (the lines' own texts) and then the fields' texts.
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

std::vector<std::string> StaffStore::applicant_folders() const {
    std::vector<std::string> folders;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec)) {
        std::string name = entry.path().filename().string();
        if (!is_reserved_name(name) && entry.is_directory(ec)) folders.push_back(name);
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::optional<Applicant> StaffStore::read_applicant(const std::string& folder) const {
    if (is_reserved_name(folder)) return std::nullopt;
    auto stored = store_.read_applicant(folder);
    if (!stored) return std::nullopt;
    Applicant a{folder, {}};
    for (const store::StoredSubmission& s : stored->submissions) {
        // A page filed before records were kept shows under the folder's name, undated.
        Submission sub{folder, s.stamp, folder, {}, {}, {}, {}, 0};
        if (s.record) {
            const store::Record& r = *s.record;
            sub.name = r.name;
            sub.mail = r.mail;
            sub.interest = r.interest;
            sub.resume = r.resume;
            sub.filed = r.filed;
            sub.resume_size = static_cast<std::int64_t>(r.resume_size);
        }
        a.submissions.push_back(std::move(sub));
    }
    return a;
}

std::vector<std::string> StaffStore::submission_files(const Submission& s) {
    std::string base = s.stamp.empty() ? "" : s.stamp + "/";
    std::vector<std::string> files{base + "index.json", base + "index.html"};
    if (!s.resume.empty() && s.resume.find('/') == std::string::npos && !is_reserved_name(s.resume))
        files.push_back(base + s.resume);
    return files;
}

std::string StaffStore::list_line_for(const std::string& folder) {
    std::vector<char> target(3 * folder.size() + 1);
    std::vector<char> text(6 * folder.size() + 1);
    cgi::link_target_to(target.data(), target.size(), folder.c_str());
    cgi::html_escape_to(text.data(), text.size(), folder.c_str());
    return std::string(LINE_START) + target.data() + "\">" + text.data() + "</a>\n";
}

std::vector<StaffStore::ListLine> StaffStore::read_list(int list_fd) const {
    std::string text;
    char chunk[1 << 16];
    std::int64_t offset = 0, n;
    while ((n = platform::read_at(list_fd, chunk, sizeof chunk, offset)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
        offset += n;
    }
    std::vector<ListLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        ListLine line{text.substr(start, end - start), {}};
        start = end;
        if (line.text.rfind(LINE_START, 0) == 0) {
            std::size_t from = sizeof LINE_START - 1;
            std::size_t quote = line.text.find('"', from);
            if (quote != std::string::npos) {
                std::string target = line.text.substr(from, quote - from);
                cgi::CgiRequest::url_decode(target.data());
                line.folder = target.c_str();
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool StaffStore::write_list(int list_fd, const std::vector<ListLine>& lines) const {
    std::string text;
    for (const ListLine& line : lines) text += line.text;
    // Written over the old bytes and then cut: the list is only ever shortened here, and a crash
    // in between leaves a list that finish_interrupted_erasures puts right from the folders.
    return ::pwrite(list_fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           store::truncate_to(list_fd, static_cast<std::int64_t>(text.size())) &&
           platform::flush_file_data(list_fd);
}

bool StaffStore::write_catalogue(const std::string& text) const {
    // Rewritten in place, like the list: filing may hold the catalogue open from before it takes
    // the lock, and appends to the file it opened; a file renamed over it would lose that line.
    platform::UniqueFd fd(::open(catalogue_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    return fd.valid() &&
           ::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           store::truncate_to(fd.get(), static_cast<std::int64_t>(text.size())) &&
           platform::flush_file_data(fd.get()) && fd.close();
}

bool StaffStore::erase(const std::string& folder, std::string& error, const StoreLock* held) {
    std::optional<StoreLock> own;
    if (!held) held = &own.emplace(list_path());
    std::vector<std::string> erased;
    if (!erase_all({folder}, *held, erased, error)) return false;
    if (erased.empty()) error = "no such applicant: " + folder;
    return !erased.empty();
}

bool StaffStore::erase_all(const std::vector<std::string>& folders, const StoreLock& held,
                           std::vector<std::string>& erased, std::string& error) {
    if (!held.held()) {
        error = "cannot lock " + list_path();
        return false;
    }
    if (!finish_interrupted_erasures(held.list_fd(), error)) return false;
    // 1. Each folder leaves its place in one step, under a hidden name that is never served and
    //    that marks its erasure as begun. From here a submission of the name is a new applicant.
    std::string prefix = root_ + "/" + ERASE_PREFIX + std::to_string(::getpid()) + "-";
    for (const std::string& folder : folders) {
        std::string dir = folder_path(folder);
        if (folder.empty() || is_reserved_name(folder) || folder.find('/') != std::string::npos ||
            !fs::is_directory(dir))
            continue;
        std::string hidden = prefix + std::to_string(erased.size());
        if (!store::rename_file(dir.c_str(), hidden.c_str())) {
            error = "cannot move " + dir + ": " + std::strerror(errno);
            break;
        }
        erased.push_back(folder);
    }
    if (erased.empty()) return error.empty();
    if (!store::flush_directory(root_.c_str())) {
        error = "cannot flush " + root_ + ": " + std::strerror(errno);
        return false;
    }
    // 2. to 4. The list lines, the catalogue lines and the files go; the same steps finish an
    //    erasure that a crash cut short.
    return finish_interrupted_erasures(held.list_fd(), error) && error.empty();
}

bool StaffStore::finish_interrupted_erasures(int list_fd, std::string& error) const {
    std::vector<std::string> hidden;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_, ec))
        if (entry.path().filename().string().rfind(ERASE_PREFIX, 0) == 0)
            hidden.push_back(entry.path().string());
    if (hidden.empty()) return true;

    // The list keeps, in its order, each line whose applicant folder is there, once; a line cut
    // by a crash in an earlier rewrite goes, and an applicant folder left without its line gets
    // one again, so that nobody is hidden.
    std::vector<ListLine> kept;
    std::unordered_set<std::string> listed;
    for (ListLine& line : read_list(list_fd))
        if (!line.folder.empty() && fs::exists(folder_path(line.folder) + "/index.html") &&
            listed.insert(line.folder).second)
            kept.push_back(std::move(line));
    for (const std::string& folder : applicant_folders())
        if (!listed.count(folder) && fs::exists(folder_path(folder) + "/index.html")) {
            kept.push_back({list_line_for(folder), folder});
            listed.insert(folder);
        }
    // The catalogue keeps the lines of the applicants still there, byte for byte, once each (a
    // rewrite cut short by a crash may have left a line twice).
    std::string catalogue;
    std::unordered_set<std::string_view> seen;
    Catalogue old = read_catalogue();
    for (const CatalogueLine& line : old.lines)
        if (listed.count(std::string(line.folder)) && seen.insert(line.text).second)
            (catalogue += line.text) += '\n';
    if (!write_list(list_fd, kept) || !write_catalogue(catalogue)) {
        error = "cannot rewrite the list of " + root_ + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string& path : hidden) fs::remove_all(path, ec);
    if (ec || !store::flush_directory(root_.c_str())) {
        error = "cannot remove " + hidden.front() + ": " + ec.message();
        return false;
    }
    return true;
}

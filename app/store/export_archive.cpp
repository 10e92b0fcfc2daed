// One applicant's data as a zip archive: every submission's record, page and resume, and her
// history.
#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/store/applicant_history.h"
#include "app/store/applicants.h"
#include "app/store/operations.h"
#include "platform/files.h"

namespace store {

namespace {

std::string archive_problem(archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

// The whole regular file at `path`, not followed through a link.
bool read_regular_file(const std::string& path, std::string& bytes) {
    platform::UniqueFd in(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    return platform::read_at(in.get(), bytes.data(), bytes.size(), 0) == st.st_size;
}

}  // namespace

bool write_export(const Applicant& applicant, int fd, std::string& error) {
    std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(),
                                                                &archive_write_free);
    if (!zip || archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
        archive_write_open_fd(zip.get(), fd) != ARCHIVE_OK) {
        error = "cannot start the archive";
        return false;
    }
    std::string top = applicant.folder_name + "/";
    // The latest submission's files lie under "latest/", earlier ones under their stamp, her
    // history (decisions and notes) beside them under its own name.
    std::vector<std::pair<std::string, std::string>> files;  // path, name in the archive
    for (const StoredSubmission& s : applicant.submissions)
        for (const std::string& file : submission_files(s))
            files.emplace_back(applicant.path + "/" + file, top + (s.stamp.empty() ? "latest/" + file : file));
    const std::string history = history_path(applicant);
    files.emplace_back(history, top + history.substr(history.rfind('/') + 1));
    for (const auto& [path, name] : files) {
        // Regular files only, never through a link: a submission filed without a page or
        // resume has none to export.
        std::string bytes;
        if (!read_regular_file(path, bytes)) continue;
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(
            archive_entry_new(), &archive_entry_free);
        archive_entry_set_pathname_utf8(entry.get(), name.c_str());
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(bytes.size()));
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        if (archive_write_header(zip.get(), entry.get()) != ARCHIVE_OK ||
            archive_write_data(zip.get(), bytes.data(), bytes.size()) !=
                static_cast<la_ssize_t>(bytes.size())) {
            error = "cannot write the archive: " + archive_problem(zip.get());
            return false;
        }
    }
    if (archive_write_close(zip.get()) != ARCHIVE_OK) {
        error = "cannot finish the archive: " + archive_problem(zip.get());
        return false;
    }
    return true;
}

}  // namespace store

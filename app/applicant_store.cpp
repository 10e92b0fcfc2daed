// The applicant store: files a checked submission (folder, applicant page, list line, resume)
// and answers with "Thank You!" or with the path that could not be created.
#include <cstdio>
#include <cstring>

#include "app/applicant_page.h"
#include "app/application.h"
#include "app/result_pages.h"
#include "app/staged_file.h"
#include "app/store_paths.h"
#include "cgi/html_escape.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace {

// The run's paths; the result pages link to them.
StorePaths paths;
// True when the applicant page could not be opened for reading before this run placed its own.
bool applicant_is_new = false;

enum class Filed { ok, page_failed, list_failed };

bool stage_applicant_page(StagedFile& page, const char* name, const char* mail,
                          const char* interest, const char* resume_href) {
    if (!page.create(paths.applicant_dir)) return false;
    std::FILE* out = page.stream();
    if (!out) return false;
    bool written = write_applicant_page(out, name, mail, interest, resume_href);
    return page.finish() && written;
}

// Appends the applicant's link line to the list. A line that cannot be written whole is cut
// off again, so the list keeps exactly its old bytes.
bool append_list_line(int list_fd, std::int64_t old_size, const char* name) {
    static char escaped_name[LIST_LINE_SIZE];
    static char line[LIST_LINE_SIZE];
    if (!html_escape_to(escaped_name, sizeof escaped_name, name)) return false;
    int n = std::snprintf(line, sizeof line, "<br><a href=\"%s\">%s</a>\n", paths.link_buf,
                          escaped_name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof line) return false;
    if (platform::write_all(list_fd, line, static_cast<std::size_t>(n))) return true;
    platform::truncate_to(list_fd, old_size);
    return false;
}

// Decides whether the applicant is new and places the applicant page, adding the list line
// for a new applicant; decision and list update happen under one lock on the list, so that
// concurrent runs for the same name add one line and runs for other names lose none.
Filed place_page_and_list_line(StagedFile& page, const char* name) {
    platform::UniqueFd list = platform::open_for_append(paths.list_path);
    if (!list.valid()) {
        // A list nobody can write gains no lines, so there is nothing to serialise: a known
        // applicant is still filed, a new one cannot be listed.
        applicant_is_new = !platform::can_open_for_reading(paths.applicant_page_path);
        if (applicant_is_new) return Filed::list_failed;
        return page.commit(paths.applicant_page_path) ? Filed::ok : Filed::page_failed;
    }
    Filed filed = Filed::ok;
    {
        platform::ExclusiveFileLock lock(list.get());
        if (!lock.held()) return Filed::list_failed;
        applicant_is_new = !platform::can_open_for_reading(paths.applicant_page_path);
        std::int64_t old_size = platform::file_size(list.get());
        if (applicant_is_new && (old_size < 0 || !append_list_line(list.get(), old_size, name)))
            return Filed::list_failed;
        // The page goes into place only after its list line is in, so a failed line leaves
        // no page behind and a later submission of the name still counts as new.
        if (!page.commit(paths.applicant_page_path)) {
            if (applicant_is_new) platform::truncate_to(list.get(), old_size);
            filed = Filed::page_failed;
        }
    }
    // Closing releases the lock; a network file system may report a delayed write error here.
    if (!list.close() && applicant_is_new && filed == Filed::ok) filed = Filed::list_failed;
    return filed;
}

bool store_resume(FormPair& upload, const char* resume_href) {
    // An empty file name leaves only the folder as the resume's path: nothing to write to.
    if (resume_href[0] == '\0') return false;
    StagedFile resume;
    // A spooled upload on the store's file system is linked into place: no byte is copied.
    if (upload.file() >= 0 && resume.adopt(upload.file(), paths.applicant_dir))
        return resume.commit(paths.resume_path);
    const char* content = upload.bytes();
    std::size_t size = upload.value_len > 0 ? static_cast<std::size_t>(upload.value_len) : 0;
    return content && resume.create(paths.applicant_dir) &&
           platform::write_all(resume.fd(), content, size) && resume.finish() &&
           resume.commit(paths.resume_path);
}

void answer_cant_create(const char* path) {
    print_cant_create({path});
    current_request->end_page();
}

}  // namespace

void store_application(const char* name, const char* mail, const char* interest, FormPair& resume,
                       const char* resume_href, const char* root) {
    if (!compose_store_paths(paths, root, name, resume_href)) {
        // The handler refuses such values before it gets here; never write to a cut path.
        print_cant_create({root, "/", name, "/", PAGE_FILE_NAME});
        current_request->end_page();
        return;
    }
    // What would fail only after the first write is refused before it.
    if (const char* refused = path_refused_before_writing(paths)) {
        answer_cant_create(refused);
        return;
    }
    // One level only; when it fails (the folder exists, or the root is missing), creating the
    // page below tells which.
    platform::make_directory(paths.applicant_dir);
    // A run killed while it wrote leaves its hidden temporary file behind; clear those away,
    // here and, a bounded number of folders per run, across the whole store root.
    platform::remove_stale_temp_files(paths.applicant_dir);
    platform::remove_stale_temp_files_below(root, STALE_SWEEP_FOLDERS);

    StagedFile page;
    if (!stage_applicant_page(page, name, mail, interest, resume_href)) {
        answer_cant_create(paths.applicant_page_path);
        return;
    }
    switch (place_page_and_list_line(page, name)) {
        case Filed::ok:
            break;
        case Filed::page_failed:
            answer_cant_create(paths.applicant_page_path);
            return;
        case Filed::list_failed:
            answer_cant_create(paths.list_path);
            return;
    }
    if (!store_resume(resume, resume_href)) {
        answer_cant_create(paths.resume_path);
        return;
    }
    print_thank_you(name, mail, paths);
    current_request->end_page();
}

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
// The store root the applicant folder and the list are in.
const char* store_root_dir = "";
// True when the applicant page could not be opened for reading before this run placed its own.
bool applicant_is_new = false;
// A known applicant's page renamed into place whose folder is flushed with the resume's rename,
// and whether the store root needs its flush as well.
bool page_flush_pending = false;
bool root_flush_pending = false;

enum class Filed { ok, page_failed, list_failed };

bool stage_applicant_page(StagedFile& page, const char* name, const char* mail,
                          const char* interest, const char* resume_href) {
    if (!page.create(paths.applicant_dir)) return false;
    std::FILE* out = page.stream();
    if (!out) return false;
    bool written = write_applicant_page(out, name, mail, interest, resume_href);
    return page.finish() && written;
}

// The applicant's link line, composed once per run; false when it does not fit.
struct ListLine {
    char text[LIST_LINE_SIZE];
    std::size_t size = 0;
};
ListLine list_line;

bool compose_list_line(const char* name) {
    static char escaped_name[LIST_LINE_SIZE];
    if (!html_escape_to(escaped_name, sizeof escaped_name, name)) return false;
    int n = std::snprintf(list_line.text, sizeof list_line.text, "<br><a href=\"%s\">%s</a>\n",
                          paths.link_buf, escaped_name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof list_line.text) return false;
    list_line.size = static_cast<std::size_t>(n);
    return true;
}

// Appends the applicant's link line to the list and flushes it. A line that cannot be written
// whole or flushed is cut off again, so the list keeps exactly its old bytes.
bool append_list_line(int list_fd, std::int64_t old_size) {
    if (platform::write_all(list_fd, list_line.text, list_line.size) &&
        platform::flush_file_data(list_fd))
        return true;
    platform::truncate_to(list_fd, old_size);
    platform::flush_file_data(list_fd);
    return false;
}

// The list's length without a line cut short at its end. Every line ends with LF; a list that
// does not was cut by a crash in the middle of writing a line that was never acknowledged.
// -1 when the end cannot be read.
std::int64_t length_without_cut_line(int list_fd, std::int64_t size) {
    static char tail[LIST_LINE_SIZE];
    if (size == 0) return 0;
    std::int64_t start = size > static_cast<std::int64_t>(sizeof tail)
                             ? size - static_cast<std::int64_t>(sizeof tail)
                             : 0;
    std::int64_t n =
        platform::read_at(list_fd, tail, static_cast<std::size_t>(size - start), start);
    if (n != size - start) return -1;
    if (tail[n - 1] == '\n') return size;
    for (std::int64_t i = n - 1; i >= 0; --i) {
        if (tail[i] == '\n') return start + i + 1;
    }
    // No line end in the longest line's length: not a line of ours, so nothing is cut.
    return start == 0 ? 0 : size;
}

// Drops a line cut short at the end of the list before the next one is appended, so that the
// list holds whole lines only; `size` becomes the list's length without it.
bool drop_cut_line(int list_fd, std::int64_t& size) {
    std::int64_t whole = length_without_cut_line(list_fd, size);
    if (whole < 0 || (whole != size && !platform::truncate_to(list_fd, whole))) return false;
    size = whole;
    return true;
}

// Whether the list already holds the applicant's line. Names and link targets are escaped, so
// the line's text cannot occur inside another line.
bool list_holds_line(int list_fd) {
    static char chunk[1 << 16];
    const std::size_t keep = list_line.size - 1;  // a line across two reads
    std::int64_t offset = 0;
    std::size_t held = 0;
    for (;;) {
        std::int64_t n = platform::read_at(list_fd, chunk + held, sizeof chunk - held, offset);
        if (n <= 0) return false;
        offset += n;
        held += static_cast<std::size_t>(n);
        if (memmem(chunk, held, list_line.text, list_line.size)) return true;
        if (held > keep) {
            std::memmove(chunk, chunk + held - keep, keep);
            held = keep;
        }
    }
}

// Makes the entries renamed or created in the applicant folder durable, and the folder's own
// entry in the store root too when this run made the folder (or the list file, which the root
// holds as well).
bool flush_folders(bool root_changed) {
    return platform::flush_directory(paths.applicant_dir) &&
           (!root_changed || platform::flush_directory(store_root_dir));
}

// While this file is in the applicant folder, the page beside it may be in place without its
// list line (a run killed or a machine stopped in between): the next run for the name looks
// the line up in the list. Its name is a hidden temporary one, never served.
char unlisted_marker_path[PATH_BUF_SIZE + 16];

// Takes the applicant page out of its place again for a new applicant whose list line failed,
// so that a later submission of the name still counts as new. The page goes before the marker:
// a disk that keeps only the first removal still has the marker beside the page.
void withdraw_new_page() {
    platform::remove_file(paths.applicant_page_path);
    platform::remove_file(unlisted_marker_path);
    platform::flush_directory(paths.applicant_dir);
}

// Renames a known, listed applicant's page into place. No list line waits for it, so its folder
// is flushed once, after the resume's rename, for both.
bool place_known_page(StagedFile& page, bool folder_is_new) {
    if (!page.commit(paths.applicant_page_path)) return false;
    page_flush_pending = true;
    root_flush_pending = folder_is_new;
    return true;
}

// Places the page of an applicant that needs a list line, then the line, under the list's lock.
Filed place_page_with_line(StagedFile& page, int list_fd, std::int64_t old_size,
                           bool folder_is_new) {
    if (!platform::create_empty_file(unlisted_marker_path)) return Filed::list_failed;
    if (!page.commit(paths.applicant_page_path)) {
        if (applicant_is_new) platform::remove_file(unlisted_marker_path);
        return Filed::page_failed;
    }
    // An empty list may have just been created by the open before the lock: its name is in the
    // root.
    if (!flush_folders(folder_is_new || old_size == 0)) {
        if (applicant_is_new) withdraw_new_page();
        return Filed::page_failed;
    }
    if (!drop_cut_line(list_fd, old_size) || !append_list_line(list_fd, old_size)) {
        if (applicant_is_new) withdraw_new_page();
        return Filed::list_failed;
    }
    return Filed::ok;
}

// Decides whether the applicant is new and places the applicant page, adding the list line
// for a new applicant; decision and list update happen under one lock on the list, so that
// concurrent runs for the same name add one line and runs for other names lose none.
//
// Order on the disk. The kernel may write the list line back the moment it is written, so the
// page must already be durable in place by then, or a crash could leave a list naming a page
// that is missing: the page (its data flushed when it was staged) is renamed into place and its
// folder flushed first, then the line is appended and flushed before the lock is released. A
// line that fails is cut off again and the page of a new applicant is taken back out, so the
// failure leaves the store as it was for that name. Between the page going into place and its
// line being flushed the unlisted marker stands beside the page (created before the rename,
// made durable by the same folder flush, removed after the line's flush), so that a run stopped
// in between leaves a page whose line the next run for the name adds. The marker's removal is
// not flushed: a marker that comes back after a crash only costs that next run a look-up.
Filed place_page_and_list_line(StagedFile& page, const char* name, bool folder_is_new) {
    platform::UniqueFd list = platform::open_for_append(paths.list_path);
    if (!list.valid()) {
        // A list nobody can write gains no lines, so there is nothing to serialise: a known
        // applicant is still filed, a new one cannot be listed.
        applicant_is_new = !platform::can_open_for_reading(paths.applicant_page_path);
        if (applicant_is_new) return Filed::list_failed;
        return place_known_page(page, folder_is_new) ? Filed::ok : Filed::page_failed;
    }
    bool needs_line = false;
    bool marked = false;
    {
        platform::ExclusiveFileLock lock(list.get());
        if (!lock.held()) return Filed::list_failed;
        applicant_is_new = !platform::can_open_for_reading(paths.applicant_page_path);
        std::int64_t old_size = platform::file_size(list.get());
        if (old_size < 0 || !compose_list_line(name)) return Filed::list_failed;
        marked = !applicant_is_new && platform::can_open_for_reading(unlisted_marker_path);
        needs_line = applicant_is_new || (marked && !list_holds_line(list.get()));
        if (needs_line) {
            Filed filed = place_page_with_line(page, list.get(), old_size, folder_is_new);
            if (filed != Filed::ok) return filed;
        }
    }
    // Closing releases the lock; a network file system may report a delayed write error here.
    if (!list.close() && needs_line) return Filed::list_failed;
    // A listed applicant's page replaces the old one without the lock: the decision that it is
    // known cannot be undone by another run, and its flushes then hold up no other run.
    if (!needs_line && !place_known_page(page, folder_is_new)) return Filed::page_failed;
    if (needs_line || marked) platform::remove_file(unlisted_marker_path);
    return Filed::ok;
}

// Stores the resume beside the page: data flushed before the rename into place, the folder
// flushed after it (with a known applicant's page renamed before it).
bool store_resume(FormPair& upload, const char* resume_href) {
    // An empty file name leaves only the folder as the resume's path: nothing to write to.
    if (resume_href[0] == '\0') return false;
    StagedFile resume;
    // A spooled upload on the store's file system is linked into place: no byte is copied. It
    // is flushed once it has its temporary name, so that an upload that must be copied to
    // another file system is not flushed for nothing.
    bool placed;
    if (upload.file() >= 0 && resume.adopt(upload.file(), paths.applicant_dir)) {
        placed = platform::flush_file_data(upload.file()) && resume.commit(paths.resume_path);
    } else {
        const char* content = upload.bytes();
        std::size_t size = upload.value_len > 0 ? static_cast<std::size_t>(upload.value_len) : 0;
        placed = content && resume.create(paths.applicant_dir) &&
                 platform::write_all(resume.fd(), content, size) && resume.finish() &&
                 resume.commit(paths.resume_path);
    }
    return placed && flush_folders(root_flush_pending);
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
    store_root_dir = root;
    std::snprintf(unlisted_marker_path, sizeof unlisted_marker_path, "%s/.tmp-unlisted",
                  paths.applicant_dir);
    // One level only; when it fails (the folder exists, or the root is missing), creating the
    // page below tells which.
    bool folder_is_new = platform::make_directory(paths.applicant_dir) == 0;
    // A run killed while it wrote leaves its hidden temporary file behind; clear those away,
    // here and, a bounded number of folders per run, across the whole store root.
    platform::remove_stale_temp_files(paths.applicant_dir);
    platform::remove_stale_temp_files_below(root, STALE_SWEEP_FOLDERS);

    StagedFile page;
    if (!stage_applicant_page(page, name, mail, interest, resume_href)) {
        answer_cant_create(paths.applicant_page_path);
        return;
    }
    switch (place_page_and_list_line(page, name, folder_is_new)) {
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
        // The page stays, as durable as it can be made, though nothing is acknowledged.
        if (page_flush_pending) flush_folders(root_flush_pending);
        answer_cant_create(paths.resume_path);
        return;
    }
    // Everything above is on stable storage now: only then is it acknowledged.
    print_thank_you(name, mail, paths);
    current_request->end_page();
}

// Filing one submission: its record, resume and page written and flushed first, then, under the
// store lock, the earlier submission moved whole into a folder of its own or, for a new
// applicant, the list line added; acknowledged only when all of it is on stable storage.
//
// Why each name, link, rename and flush is there, step by step. The file systems the store runs
// on journal a folder's changes in the order they were made, so a crash keeps a prefix of them;
// a flush of a file or folder makes everything done to it before the flush durable.
//
// A new applicant (the name has no page):
//  1. The applicant folder is made. A crash leaves it empty or missing: no page, no line; the
//     next run of the name files into it.
//  2. The run's entry in the register of runs (<root>/.tmp-runs/, a link naming the folder).
//     A crash leaves the entry: a later run finds its process gone, removes the temporary
//     files in that folder, then the entry (nobody need list the whole root for them). The run
//     that made the register just now lists nothing: no run that is gone can be entered in it.
//  3. Resume, record and page under temporary names in the folder (the spooled resume linked
//     there, not copied). A crash leaves hidden files only, removed as in 2.
//  4. Flush round 1, all at once: the three files' data and the root (the folder's entry, and
//     the list's when it was made just now). Now the data lies durable under temporary names.
//  5. The unlisted marker (.tmp-unlisted) in the folder, before the lock (on a shared file
//     system a round trip). Not flushed: it only has to come before the page's rename in the
//     same folder, and a crash that keeps the page keeps the marker.
//  6. Lock; no erasure of the name unfinished; still no page: the marker made again if a run
//     whose line failed took it out, then record, resume and page renamed into place. A crash
//     leaves the page, maybe without its line, always with the marker: the next run of the
//     name finds the page, sees the marker and adds the line when the list lacks it.
//  7. Lock let go; flush round 2: the applicant folder (and the root when the lock's open made
//     the list). The page is durable under its name, so a line may name it. Nobody waits for
//     this flush under the lock.
//  8. Lock again. The marker gone means another run listed the name meanwhile (the page
//     stands) or staff erased it (no page stands: refused). Otherwise the line is appended,
//     with the lines other new applicants' runs asked for while they waited (see 10), and
//     flush round 3 makes them durable. A crash in the write leaves a cut last line that no run
//     acknowledged: the next appender cuts it off first. A line that cannot be written or
//     flushed is cut off, and the run's files taken out again (the page first, the marker
//     last, the folder flushed), so that the name still counts as new.
//  9. The marker removed under the lock (a crash before leaves line and marker: the next run of
//     the name finds the line and only removes the marker), the catalogue line appended
//     unflushed (derived data, rebuilt from the records), the lock let go, the register entry
//     removed. Then "Thank You!": nothing of the store changes after it.
// 10. Shared flush rounds: a run that finds the lock taken at 8 adds a second register entry,
//     <pid>-line<list length>, naming its folder: its page is durable by then. A holder that
//     waited for the lock too appends the lines asked for whose folders still have marker and
//     page and no unfinished erasure, flushes them with its own and removes their markers; the
//     run that asked then finds its marker gone and its page standing. A holder stopped between
//     that flush and the markers' removal leaves lines whose markers stand: whoever comes next
//     looks for each such line after the list length recorded when it was asked for, and adds
//     none twice.
//
// A known applicant (a page is in place), 1 to 4 as above without the root:
//  5. Lock; the earlier submission's files hard-linked into <stamp>/ (resume, page, record
//     last), flush round 2: that folder and the applicant folder together, so the earlier
//     submission is whole in <stamp>/ before anything of it is replaced. A crash leaves a
//     <stamp>/ holding the current files themselves, which counts as no earlier submission;
//     the next run reuses it.
//  6. The new record, resume and page renamed over the old names (the record first: from then
//     on <stamp>/ counts as an earlier submission), the earlier resume's name removed when the
//     new one differs (its file lives on in <stamp>/). Every crash state shows each file old or
//     new, and the earlier submission whole in <stamp>/.
//  7. The line when the marker stands beside the page and the list lacks it, the marker
//     removed, the catalogue line, the lock let go.
//  8. Flush round 3, outside the lock: the applicant folder, which makes the renames durable.
//     Then "Thank You!".
//
// A flush that fails anywhere is a failed submission ("Can't create"): what was staged goes with
// its temporary names, and nothing of an earlier submission is lost.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "app/store/applicant_history.h"
#include "app/store/applicant_page.h"
#include "app/store/applicant_store.h"
#include "app/store/erasure_marks.h"
#include "app/store/flush_together.h"
#include "app/store/list_line.h"
#include "app/store/record.h"
#include "app/store/staged_file.h"
#include "app/store/store_files.h"
#include "app/store/store_settings.h"
#include "platform/platform.h"

namespace store {

namespace {

constexpr char kUnlistedMarker[] = ".tmp-unlisted";

// A text composed through a stream in memory (open_memstream), owned until destruction.
class MemoryText {
  public:
    MemoryText() : stream_(open_memstream(&data_, &size_)) {}
    ~MemoryText() {
        if (stream_) std::fclose(stream_);
        std::free(data_);
    }
    MemoryText(const MemoryText&) = delete;
    MemoryText& operator=(const MemoryText&) = delete;

    std::FILE* stream() const { return stream_; }
    // Ends the composing; the text, or a null view when the stream failed.
    std::string_view finish() {
        if (!stream_) return {};
        const bool ok = std::fclose(std::exchange(stream_, nullptr)) == 0;
        return ok && data_ ? std::string_view(data_, size_) : std::string_view();
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* stream_ = nullptr;
};

// Whether APPLY_STORE_ROOTS names `path`: checked before a folder is made there.
bool is_named_root(const std::string& path) {
    const std::vector<std::string> named = named_roots();
    return std::find(named.begin(), named.end(), path) != named.end();
}

// Whether the page at `path` is a list page (it starts with a list line): the folder is a store
// root an older program left inside this one, which an applicant page would replace.
bool is_list_page(const std::string& path) {
    static constexpr char kListLineStart[] = "<br><a href=\"";
    char start[sizeof kListLineStart - 1];
    return read_file_start(path, start, sizeof start) == static_cast<std::int64_t>(sizeof start) &&
           std::memcmp(start, kListLineStart, sizeof start) == 0;
}

// One run of filing: the submission, its paths and what was found, and the answer.
class Filing {
  public:
    Filing(const ApplicantStore& store, const Submission& submission)
        : store_(store),
          submission_(submission),
          dir_(store.applicant_dir(submission.name)),
          page_path_(dir_ + "/" + PAGE_FILE_NAME),
          record_path_(dir_ + "/" + RECORD_FILE_NAME),
          resume_path_(dir_ + "/" + submission.resume_name),
          marker_path_(dir_ + "/" + kUnlistedMarker) {}

    FilingResult run();

  private:
    FilingResult fail(const std::string& shown, const char* operation, const std::string& path) {
        FilingResult result;
        result.outcome = Outcome::cant_create;
        result.path = shown;
        result.failure = std::string(operation) + " " + path + ": " + std::strerror(errno);
        return result;
    }

    // The staging writes each file without its flush; stage_flushes gives the flushes to run.
    bool stage_record();
    bool stage_resume();
    bool stage_page(const std::vector<std::string>& earlier);
    std::vector<FlushJob> stage_flushes() const;
    bool close_staged();
    // The stamps the new page lists: those kept, and the one the current submission gets.
    std::vector<std::string> page_history();
    // The folder name the current submission moves to (an existing one when a crash
    // interrupted its move).
    std::string stamp_for_current();
    // `page_unflushed`: the page was staged again under the lock; its flush joins the folders'.
    bool keep_earlier(std::string* failed_path, bool page_unflushed);
    bool place_new_files();
    void withdraw_new_files();
    bool append_list_lines(int list_fd, std::int64_t size, const std::string& lines);
    void append_catalogue_line();
    FilingResult file_known(StoreLock& lock, std::int64_t size, bool page_unflushed);
    FilingResult file_new(StoreLock& lock, std::int64_t size, bool list_unflushed, RunEntry& entry);
    void add_lines_asked_for(int list_fd, std::int64_t size, std::string* lines,
                             std::vector<std::string>* markers);

    const ApplicantStore& store_;
    const Submission& submission_;
    const std::string dir_, page_path_, record_path_, resume_path_, marker_path_;
    Record record_;
    std::optional<Record> current_;  // the record in place before this run, if any
    StagedFile staged_record_, staged_resume_, staged_page_;
    bool resume_adopted_ = false;  // the spooled upload is the staged resume
    // Opened (made when missing) before the root's flush, so that its name is durable with it.
    platform::UniqueFd catalogue_;
};

bool Filing::stage_record() {
    const std::string json = record_json(record_) + "\n";
    return staged_record_.create(dir_) &&
           platform::write_all(staged_record_.fd(), json.data(), json.size()) &&
           staged_record_.end_writing();
}

bool Filing::stage_resume() {
    // A spooled upload on the store's file system is linked into place: no byte is copied. It
    // is flushed once it has its temporary name, so that an upload that must be copied to
    // another file system is not flushed for nothing.
    if (submission_.resume_fd >= 0 && staged_resume_.adopt(submission_.resume_fd, dir_)) {
        resume_adopted_ = true;
        return true;
    }
    if (!submission_.resume_bytes) return false;
    const std::string_view content = submission_.resume_bytes();
    return staged_resume_.create(dir_) &&
           platform::write_all(staged_resume_.fd(), content.data(), content.size()) &&
           staged_resume_.end_writing();
}

bool Filing::stage_page(const std::vector<std::string>& earlier) {
    // Composed in memory and written with one call: a stream on the file would ask the system
    // about the descriptor first.
    MemoryText page;
    if (!page.stream()) return false;
    const bool composed =
        write_applicant_page(page.stream(), submission_.name.c_str(), submission_.mail.c_str(),
                             submission_.interest.c_str(), submission_.resume_name.c_str(), earlier);
    const std::string_view text = page.finish();
    return composed && text.data() && staged_page_.create(dir_) &&
           platform::write_all(staged_page_.fd(), text.data(), text.size()) &&
           staged_page_.end_writing();
}

std::vector<FlushJob> Filing::stage_flushes() const {
    const std::string temp_names = dir_ + "/.tmp-*";
    return {
        {resume_adopted_ ? submission_.resume_fd : staged_resume_.data_fd(), resume_path_,
         resume_path_, "write"},
        {staged_record_.data_fd(), temp_names, page_path_, "write"},
        {staged_page_.data_fd(), temp_names, page_path_, "write"},
    };
}

// Closes the staged files after their flush (the adopted resume stays the caller's).
bool Filing::close_staged() {
    return (resume_adopted_ || staged_resume_.close()) && staged_record_.close() &&
           staged_page_.close();
}

std::string Filing::stamp_for_current() {
    std::string base = current_ ? stamp_of_filed(current_->filed) : std::string();
    if (base.empty()) base = stamp_text(static_cast<std::time_t>(modified_time(page_path_)));
    const std::uint64_t record = inode_of(record_path_);
    const std::uint64_t page = inode_of(page_path_);
    for (unsigned n = 1;; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        const std::string folder = dir_ + "/" + name + "/";
        if (!exists(folder)) return name;
        const std::uint64_t linked_record = inode_of(folder + RECORD_FILE_NAME);
        const std::uint64_t linked_page = inode_of(folder + PAGE_FILE_NAME);
        if ((record != 0 && linked_record == record) || (record == 0 && linked_page == page))
            return name;
    }
}

std::vector<std::string> Filing::page_history() {
    std::vector<std::string> earlier = earlier_stamps(dir_);
    if (exists(page_path_)) earlier.insert(earlier.begin(), stamp_for_current());
    return earlier;
}

// Links the current submission's files into its stamp folder and makes them durable there.
bool Filing::keep_earlier(std::string* failed_path, bool page_unflushed) {
    const std::string stamp = stamp_for_current();
    const std::string folder = dir_ + "/" + stamp;
    *failed_path = folder;
    if (platform::make_directory(folder.c_str()) != 0 && errno != EEXIST) return false;
    // With a record: its resume, the page, the record last. A page filed before records were
    // kept takes every plain file of the folder along.
    std::vector<std::string> files;
    if (current_) {
        if (!current_->resume.empty() && exists(dir_ + "/" + current_->resume) &&
            !is_folder(dir_ + "/" + current_->resume))
            files.push_back(current_->resume);
        files.push_back(PAGE_FILE_NAME);
        files.push_back(RECORD_FILE_NAME);
    } else {
        for (std::string& name : names_in(dir_)) {
            // The histories of the folder's applicants stay where they are.
            if (name.rfind(platform::TEMP_NAME_PREFIX, 0) != 0 && !is_history_file_name(name) &&
                !is_folder(dir_ + "/" + name))
                files.push_back(std::move(name));
        }
    }
    for (const std::string& file : files) {
        const std::string target = folder + "/" + file;
        if (exists(target)) continue;  // a move a crash interrupted
        if (!link_file(dir_ + "/" + file, target)) {
            *failed_path = target;
            return false;
        }
    }
    std::vector<FlushJob> flushes = {{-1, folder, folder}, {-1, dir_, dir_}};
    if (page_unflushed) flushes.push_back({staged_page_.data_fd(), dir_ + "/.tmp-*", page_path_});
    if (const FlushJob* failed = flush_together(flushes)) {
        *failed_path = failed->path;
        return false;
    }
    *failed_path = dir_ + "/.tmp-*";
    if (page_unflushed && !staged_page_.close()) return false;
    // Record first: from then on the stamp folder is an earlier submission of its own.
    *failed_path = record_path_;
    if (!staged_record_.commit(record_path_)) return false;
    *failed_path = resume_path_;
    if (!staged_resume_.commit(resume_path_)) return false;
    *failed_path = page_path_;
    if (!staged_page_.commit(page_path_)) return false;
    // The earlier resume's name goes when the new one has another: it lives on in the stamp
    // folder.
    for (const std::string& file : files) {
        if (file != PAGE_FILE_NAME && file != RECORD_FILE_NAME && file != submission_.resume_name)
            remove_file(dir_ + "/" + file);
    }
    return true;
}

bool Filing::place_new_files() {
    return staged_record_.commit(record_path_) && staged_resume_.commit(resume_path_) &&
           staged_page_.commit(page_path_);
}

// Takes a new applicant's files out of their place again when the list line failed, so that a
// later submission of the name still counts as new. The page goes before the marker: a disk
// that keeps only the first removal still has the marker beside the page.
void Filing::withdraw_new_files() {
    remove_file(page_path_);
    remove_file(record_path_);
    remove_file(resume_path_);
    remove_file(marker_path_);
    flush_directory(dir_);
}

// Appends the lines at the list's end and flushes them. Lines that cannot be written whole or
// flushed are cut off again, so the list keeps exactly its old bytes.
bool Filing::append_list_lines(int list_fd, std::int64_t size, const std::string& lines) {
    const std::int64_t whole = length_without_cut_line(list_fd, size);
    if (whole < 0 || (whole != size && !truncate_to(list_fd, whole))) return false;
    if (write_all_at(list_fd, lines.data(), lines.size(), whole) &&
        platform::flush_file_data(list_fd))
        return true;
    const int saved = errno;
    truncate_to(list_fd, whole);
    platform::flush_file_data(list_fd);
    errno = saved;
    return false;
}

// The lines other new applicants' runs asked for while they waited for the lock, for folders
// whose page stands marked as unlisted (their runs asked only once the page was durable), and
// the markers that go once the lines are flushed. A line that already stands (its adder was
// stopped before it took the marker out) is not added again.
void Filing::add_lines_asked_for(int list_fd, std::int64_t size, std::string* lines,
                                 std::vector<std::string>* markers) {
    const std::string& root = store_.store_root();
    for (const LineAskedFor& asked : lines_asked_for(root)) {
        if (asked.folder == submission_.name) continue;
        const std::string folder = root + "/" + asked.folder;
        std::string marker = folder + "/" + kUnlistedMarker;
        if (!exists(marker) || !exists(folder + "/" + PAGE_FILE_NAME) ||
            erasure_pending_for(store_, asked.folder))
            continue;
        const std::string line = list_line(asked.folder);
        if (!list_holds_line(list_fd, line, asked.list_size <= size ? asked.list_size : 0))
            *lines += line;
        markers->push_back(std::move(marker));
    }
}

void Filing::append_catalogue_line() {
    const std::string line =
        record_json(record_, submission_.name, stamp_of_filed(record_.filed)) + "\n";
    if (catalogue_.valid()) platform::write_all(catalogue_.get(), line.data(), line.size());
}

FilingResult Filing::run() {
    const std::string list_path = store_.list_path();
    const std::string& root = store_.store_root();
    // What would fail only after the first write is refused before it: a store root of its
    // own under the applicant's name, or a folder where the resume would go. A folder this run
    // makes holds neither, nor any earlier submission or stale file.
    errno = EEXIST;
    if (is_named_root(dir_)) return fail(page_path_, "refuse store root as applicant folder", dir_);
    const bool folder_is_new = platform::make_directory(dir_.c_str()) == 0;
    if (!folder_is_new) {
        const int made = errno;
        if (!is_folder(dir_)) {
            errno = made;
            return fail(page_path_, "make folder", dir_);
        }
        errno = EEXIST;
        if (ApplicantStore::is_store_root(dir_) || is_list_page(page_path_))
            return fail(page_path_, "refuse store root as applicant folder", dir_);
        errno = EISDIR;
        if (is_folder(resume_path_))
            return fail(resume_path_, "refuse folder as resume", resume_path_);
    }
    const std::time_t now = std::time(nullptr);
    record_ = Record{submission_.name, submission_.mail, submission_.interest,
                     submission_.resume_name, 0, filed_text(now)};
    RunEntry entry(root, submission_.name);
    // Files that killed runs left: in this folder, and in the folders of runs that are gone.
    if (!folder_is_new) remove_stale_temp_files(dir_);
    if (!entry.made_register()) sweep_stale_runs(root);

    if (!folder_is_new) current_ = read_record(record_path_);
    // Each file is written whole first; their flushes then run together.
    if (!stage_resume()) return fail(resume_path_, "write", resume_path_);
    record_.resume_size = static_cast<std::uint64_t>(
        submission_.resume_size >= 0 ? submission_.resume_size
        : submission_.resume_fd >= 0 ? platform::file_size(submission_.resume_fd)
                                     : static_cast<std::int64_t>(submission_.resume_bytes().size()));
    if (!stage_record()) return fail(page_path_, "write", dir_ + "/.tmp-*");
    std::vector<std::string> history;
    if (!folder_is_new) history = page_history();
    if (!stage_page(history)) return fail(page_path_, "write", dir_ + "/.tmp-*");
    catalogue_ = open_for_append(store_.catalogue_path());
    std::vector<FlushJob> flushes = stage_flushes();
    // A new applicant's folder entry must be durable before the list line names it. A missing
    // list is made now, so that this flush covers its name as well.
    const bool unlisted = folder_is_new || !exists(page_path_);
    bool list_name_flushed = false;
    if (folder_is_new || unlisted) {
        list_name_flushed = exists(list_path) || create_empty_file(list_path);
        flushes.push_back({-1, root, page_path_});
    }
    if (const FlushJob* failed = flush_together(flushes))
        return fail(failed->shown, failed->operation, failed->path);
    if (!close_staged()) return fail(page_path_, "write", dir_ + "/.tmp-*");
    // Left in place should the lock fail: removed outside the lock it could leave another run's
    // page without its line and without the marker; the next run for the name removes it.
    if (unlisted && !create_empty_file(marker_path_))
        return fail(list_path, "create", marker_path_);

    StoreLock lock = store_.lock();
    if (!lock.held()) return fail(list_path, "lock", list_path);
    // Staff's erasure of the name was cut short: it is finished by the next staff action, and
    // nothing is filed into the folder before that.
    if (erasure_pending_for(store_, submission_.name)) {
        errno = EBUSY;
        return fail(page_path_, "file while an erasure is unfinished in", dir_);
    }
    const bool known = exists(page_path_);
    if (known) current_ = read_record(record_path_);
    // Another run may have filed the name since the page was staged: stage it again (for a
    // known applicant its flush runs with the earlier submission's). In the folder this run
    // made, only a page filed since brings earlier submissions.
    bool page_unflushed = false;
    if ((known || !folder_is_new) && page_history() != history) {
        history = page_history();
        staged_page_.reset();
        if (!stage_page(history) || (!known && !staged_page_.finish()))
            return fail(page_path_, "write", dir_ + "/.tmp-*");
        page_unflushed = known;
    }
    const std::int64_t size = lock.size_when_locked();
    if (size < 0) return fail(list_path, "read", list_path);
    FilingResult result = known ? file_known(lock, size, page_unflushed)
                                : file_new(lock, size, !list_name_flushed, entry);
    if (result.outcome != Outcome::filed) return result;
    result.path = page_path_;
    return result;
}

// Under the lock: the earlier submission kept, the new files in place, the line added when
// the page stands marked as unlisted.
FilingResult Filing::file_known(StoreLock& lock, std::int64_t size, bool page_unflushed) {
    const std::string list_path = store_.list_path();
    std::string failed_path;
    if (!keep_earlier(&failed_path, page_unflushed))
        return fail(page_path_, "keep earlier", failed_path);
    const bool marked = exists(marker_path_);
    const bool needs_line = marked && !list_holds_line(lock.fd(), list_line(submission_.name));
    if (needs_line && !append_list_lines(lock.fd(), size, list_line(submission_.name)))
        return fail(list_path, "append", list_path);
    // Taken out under the lock: a new applicant's run of the name that waits for its line
    // finds it gone and knows the name listed.
    if (marked) remove_file(marker_path_);
    append_catalogue_line();
    if (!lock.release() && needs_line) return fail(list_path, "close", list_path);
    // The renames are made durable outside the lock: nothing else waits on them.
    if (!flush_directory(dir_)) return fail(page_path_, "flush", dir_);
    FilingResult result;
    result.outcome = Outcome::filed;
    return result;
}

// The files put in place under the lock beside the marker; the lock let go while their folder
// is flushed (the list waits for no one's folder), then taken again for the line. `list_unflushed`:
// the list's name in the root has not been made durable yet.
FilingResult Filing::file_new(StoreLock& lock, std::int64_t size, bool list_unflushed,
                              RunEntry& entry) {
    const std::string list_path = store_.list_path();
    if (!exists(marker_path_) && !create_empty_file(marker_path_))
        return fail(list_path, "create", marker_path_);
    if (!place_new_files()) {
        withdraw_new_files();
        return fail(page_path_, "rename", page_path_);
    }
    lock.release();
    // An empty list may have just been created by the lock's open: its name is in the root,
    // flushed together with the applicant folder.
    std::vector<FlushJob> placed = {{-1, dir_, page_path_}};
    if (size == 0 && list_unflushed) placed.push_back({-1, store_.store_root(), page_path_});
    const FlushJob* flush_failed = flush_together(placed);
    const int flush_error = errno;

    // Found taken, the lock is waited for with the line asked for: the holder, if it waited
    // too, adds it with its own.
    bool waited = false;
    lock = StoreLock(list_path, [&] {
        waited = true;
        if (!flush_failed) entry.ask_for_line(size);
    });
    if (!lock.held()) return fail(list_path, "lock", list_path);
    // The marker still there: nobody has listed the name since the files were put in place,
    // so they are still this run's. Gone: another run listed the name (a later run of the name
    // that moved the files into a folder of their own, or the holder the line was asked of),
    // and its page stands; or the name was erased, and none stands.
    const bool marked = exists(marker_path_);
    if (flush_failed) {
        if (marked) withdraw_new_files();
        errno = flush_error;
        return fail(flush_failed->shown, flush_failed->operation, flush_failed->path);
    }
    if (erasure_pending_for(store_, submission_.name)) {
        errno = EBUSY;
        return fail(page_path_, "file while an erasure is unfinished in", dir_);
    }
    if (marked) {
        const std::int64_t now = lock.size_when_locked();
        if (now < 0) {
            withdraw_new_files();
            return fail(list_path, "read", list_path);
        }
        // A holder that added the line asked for may have been stopped before it took the
        // marker out: the line then stands after the list's length when it was asked for.
        const std::string own = list_line(submission_.name);
        const bool listed = waited && list_holds_line(lock.fd(), own, size <= now ? size : 0);
        std::string lines = listed ? std::string() : own;
        std::vector<std::string> served;
        if (waited) add_lines_asked_for(lock.fd(), now, &lines, &served);
        if (!lines.empty() && !append_list_lines(lock.fd(), now, lines)) {
            if (!listed) withdraw_new_files();
            return fail(list_path, "append", list_path);
        }
        remove_file(marker_path_);
        for (const std::string& marker : served) remove_file(marker);
    } else if (!exists(page_path_)) {
        errno = ENOENT;
        return fail(page_path_, "file", page_path_);
    }
    append_catalogue_line();
    if (!lock.release() && marked) return fail(list_path, "close", list_path);
    FilingResult result;
    result.outcome = Outcome::filed;
    return result;
}

}  // namespace

FilingResult ApplicantStore::file(const Submission& submission) const {
    return Filing(*this, submission).run();
}

}  // namespace store

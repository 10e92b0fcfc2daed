// Temporary file, flushed and checked close, rename into place.
#include "app/staged_file.h"

#include <utility>

StagedFile::~StagedFile() {
    if (stream_) std::fclose(stream_);
    fd_ = platform::UniqueFd();
    if (temp_exists_) platform::remove_file(temp_path_);
}

bool StagedFile::create(const char* dir) {
    fd_ = platform::create_temp_file(dir, temp_path_, sizeof temp_path_);
    temp_exists_ = fd_.valid();
    return temp_exists_;
}

bool StagedFile::adopt(int fd, const char* dir) {
    temp_exists_ = platform::link_as_temp_file(fd, dir, temp_path_, sizeof temp_path_);
    return temp_exists_;
}

std::FILE* StagedFile::stream() {
    if (!stream_ && fd_.valid()) stream_ = platform::stream_for(std::move(fd_), "wb");
    return stream_;
}

bool StagedFile::finish() {
    if (stream_) {
        bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_) &&
                  platform::flush_file_data(fileno(stream_));
        ok = std::fclose(std::exchange(stream_, nullptr)) == 0 && ok;
        return ok;
    }
    bool flushed = fd_.valid() && platform::flush_file_data(fd_.get());
    return fd_.close() && flushed;
}

bool StagedFile::commit(const char* final_path) {
    if (!temp_exists_ || stream_ || fd_.valid()) return false;
    if (!platform::rename_file(temp_path_, final_path)) return false;
    temp_exists_ = false;
    return true;
}

// Temporary file, flushed and checked close, rename into place.
#include "app/store/staged_file.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

StagedFile::~StagedFile() {
    reset();
}

void StagedFile::reset() {
    if (stream_) std::fclose(std::exchange(stream_, nullptr));
    fd_ = platform::UniqueFd();
    if (std::exchange(temp_exists_, false)) ::unlink(temp_path_);
}

bool StagedFile::create(const std::string& dir) {
    fd_ = platform::create_temp_file(dir.c_str(), temp_path_, sizeof temp_path_);
    temp_exists_ = fd_.valid();
    return temp_exists_;
}

bool StagedFile::adopt(int fd, const std::string& dir) {
    temp_exists_ = platform::link_as_temp_file(fd, dir.c_str(), temp_path_, sizeof temp_path_);
    return temp_exists_;
}

std::FILE* StagedFile::stream() {
    if (!stream_ && fd_.valid()) stream_ = platform::stream_for(std::move(fd_), "wb");
    return stream_;
}

bool StagedFile::end_writing() {
    if (stream_) return std::fflush(stream_) == 0 && !std::ferror(stream_);
    return fd_.valid();
}

int StagedFile::data_fd() const {
    return stream_ ? fileno(stream_) : fd_.get();
}

bool StagedFile::close() {
    if (stream_) return std::fclose(std::exchange(stream_, nullptr)) == 0;
    return fd_.valid() && fd_.close();
}

bool StagedFile::finish() {
    const bool flushed = end_writing() && platform::flush_file_data(data_fd());
    return close() && flushed;
}

bool StagedFile::commit(const std::string& final_path) {
    if (!temp_exists_ || stream_ || fd_.valid()) return false;
    if (::rename(temp_path_, final_path.c_str()) != 0) return false;
    temp_exists_ = false;
    return true;
}

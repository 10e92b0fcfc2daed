// Flushes of different files and folders run at once, each but the first on a thread of its own,
// so that the disk serves them together instead of one after another; the caller waits for all.
#pragma once

#include <string>
#include <vector>

namespace store {

// One flush: the data of an open file, or the entries of a folder.
struct FlushJob {
    int fd = -1;       // the file's descriptor; -1: the folder at `path`
    std::string path;  // the folder, or how a failure names the file
    // What the answer names and what failed, when this flush fails.
    std::string shown;
    const char* operation = "flush";
    int error = 0;  // errno of a failed flush; 0 when it succeeded
};

// Runs every job at once and waits until all are done. Returns the first job (in the order
// given) that failed, with errno set to its error, or null when all succeeded.
const FlushJob* flush_together(std::vector<FlushJob>& jobs);

}  // namespace store

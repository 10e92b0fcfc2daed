// Allocation of the request body buffer, with transparent huge pages for large bodies.
#include "cgi/body_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace cgi::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a body touches few enough 4 KiB pages that zeroing a whole huge page would cost more.
constexpr std::size_t kHugePageThreshold = std::size_t{256} << 10;
}  // namespace

void BodyBufferFree::operator()(char* p) const noexcept {
    std::free(p);
}

BodyBuffer allocate_body_buffer(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes >= kHugePageThreshold) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (rounded >= bytes) {
            if (void* p = std::aligned_alloc(kHugePage, rounded)) {
                // Advice only: without huge pages the buffer still works with ordinary pages.
                madvise(p, rounded, MADV_HUGEPAGE);
                return BodyBuffer(static_cast<char*>(p));
            }
        }
    }
    return BodyBuffer(static_cast<char*>(std::malloc(bytes)));
}

}  // namespace cgi::detail

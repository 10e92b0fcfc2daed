// Takes one CGI request the way the program does (environment and standard input), collects its
// pairs and lists them: name, value length, file name and content-type line. With a folder as its
// argument, uploads are spooled there as the program spools them. Peak memory of a large upload:
// /usr/bin/time -v upload_driver [folder] < body, with CONTENT_TYPE and CONTENT_LENGTH set.
#include <cstdint>
#include <cstdio>

#include "cgi/cgi_request.h"

using namespace cgi;

int main(int argc, char* argv[]) {
    CgiRequest request(argc, argv, RequestOptions::as_designed());
    if (request.body_too_large()) {
        std::printf("body too large: not read\n");
        return 0;
    }
    if (argc > 1) request.spool_uploads_in(argv[1]);
    char name[SCRATCH_SIZE];
    char value[64];
    std::uint32_t checksum = 0;
    while (request.next_pair(name, value)) {
        std::int32_t length = 0;
        char file_name[SCRATCH_SIZE];
        char file_type[SCRATCH_SIZE];
        const char* data = request.get_file(name, &length, file_name, file_type);
        // Touches every byte, as storing the upload would.
        for (std::int32_t i = 0; i < length; ++i)
            checksum = checksum * 31 + static_cast<unsigned char>(data[i]);
        std::printf("%s\t%d\t%s\t%s\n", name, static_cast<int>(length), file_name, file_type);
    }
    std::printf("checksum %08x\n", static_cast<unsigned>(checksum));
    return 0;
}

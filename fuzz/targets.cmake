# The fuzz targets' sources and shared plumbing. Included by fuzz/CMakeLists.txt (the fuzzers,
# clang only) and by tests/replay/CMakeLists.txt (the replay runners, every compiler).
set(FUZZ_TARGETS multipart multipart_window multipart_roundtrip query url_encoded cookie codecs)
set(FUZZ_SOURCE_DIR ${PROJECT_SOURCE_DIR}/fuzz)

include_guard(GLOBAL)

# Input plumbing and the exit hook that replaces cgi_exit: objects, so that the hook is always
# linked in and the library's calls resolve to it rather than to the normal process exit.
add_library(fuzz_support OBJECT ${FUZZ_SOURCE_DIR}/fuzz_support.cpp ${FUZZ_SOURCE_DIR}/exit_hook.cpp)
target_include_directories(fuzz_support PUBLIC ${PROJECT_SOURCE_DIR})

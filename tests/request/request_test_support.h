// Helpers of the request tests: the CGI environment, standard input, argument vectors and
// multipart bodies built the way browsers and curl lay them out.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cgi/cgi_request.h"

// Unsets every CGI variable, then sets the given ones.
inline void set_cgi_env(std::initializer_list<std::pair<const char*, std::string>> vars) {
    for (const char* name : CGI_ENV_NAMES) unsetenv(name);
    for (const auto& [name, value] : vars) setenv(name, value.c_str(), 1);
}

// Makes `bytes` the whole of standard input.
inline void feed_stdin(std::string_view bytes) {
    char path[] = "/tmp/request_test_stdin_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    ASSERT_NE(std::freopen(path, "rb", stdin), nullptr);
    unlink(path);
}

// Bytes still unread on standard input.
inline std::string rest_of_stdin() {
    std::string rest;
    for (int ch; (ch = std::getchar()) != EOF;) rest.push_back(static_cast<char>(ch));
    return rest;
}

// An argument vector that outlives the request built from it.
class Args {
  public:
    Args(std::initializer_list<std::string> args) : texts(args) {
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts.size()); }
    char** argv() { return pointers.data(); }

  private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

inline std::unique_ptr<CgiRequest> make_request(Args args = {"/srv/cgi-bin/apply.cgi"}) {
    return std::make_unique<CgiRequest>(args.argc(), args.argv());
}

// A multipart/form-data body. Each part starts with its boundary line; `eol` is the line break.
class MultipartBody {
  public:
    explicit MultipartBody(std::string boundary_text = "----TestBoundary7MA4YWxk",
                           std::string eol = "\r\n")
        : boundary(std::move(boundary_text)), line_end(std::move(eol)) {}

    MultipartBody& field(const std::string& name, const std::string& value) {
        text += "--" + boundary + line_end;
        text += "Content-Disposition: form-data; name=\"" + name + "\"" + line_end + line_end;
        text += value + line_end;
        return *this;
    }
    // An upload; an empty `type` leaves the Content-Type line out.
    MultipartBody& file(const std::string& name, const std::string& file_name,
                        const std::string& type, const std::string& content) {
        text += "--" + boundary + line_end;
        text += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + file_name +
                "\"" + line_end;
        if (!type.empty()) text += "Content-Type: " + type + line_end;
        text += line_end + content + line_end;
        return *this;
    }
    MultipartBody& raw(const std::string& bytes) {
        text += bytes;
        return *this;
    }
    std::string close() const { return text + "--" + boundary + "--" + line_end; }

    std::string content_type() const { return "multipart/form-data; boundary=" + boundary; }

    const std::string boundary;
    const std::string line_end;

  private:
    std::string text;
};

// Sets up a multipart POST of `body` (declared with its own length unless `declared` is given)
// and builds the request, which reads the body.
inline std::unique_ptr<CgiRequest> multipart_request(const MultipartBody& form,
                                                     const std::string& body,
                                                     const std::string& declared = "") {
    set_cgi_env({{"REQUEST_METHOD", "POST"},
                 {"CONTENT_TYPE", form.content_type()},
                 {"CONTENT_LENGTH", declared.empty() ? std::to_string(body.size()) : declared}});
    feed_stdin(body);
    return make_request();
}

// A value of the pair table with its length, so that NUL bytes compare too.
inline std::string file_value(CgiRequest& request, const char* name) {
    std::int32_t length = -1;
    char file_name[SCRATCH_SIZE];
    char file_type[SCRATCH_SIZE];
    const char* value = request.get_file(name, &length, file_name, file_type);
    if (!value) return "<missing>";
    return std::string(value, static_cast<std::size_t>(length));
}

// The whole content of a file.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The names of the real-client cases in the corpus (each a folder with a body.bin), sorted.
inline std::vector<std::string> corpus_cases() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(CORPUS_DIR)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name[0] != '.' && std::ifstream(CORPUS_DIR "/" + name + "/body.bin"))
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A folder under `parent`, removed with what it holds.
class TempFolder {
  public:
    explicit TempFolder(const std::string& parent = "/tmp") {
        std::string pattern = parent + "/request_test_XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed in " + parent);
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    const char* c_str() const { return path_.c_str(); }

    // The names a listing of the folder shows.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(path_.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(dir);
        }
        return names;
    }

  private:
    std::string path_;
};

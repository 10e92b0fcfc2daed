// Shared pieces of the application's black-box tests: multipart bodies as a browser sends them,
// a complete application with defaults, and a fixture with a fresh working directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apply_runner.h"
#include "test_files.h"

namespace fs = std::filesystem;

inline constexpr char TEST_BOUNDARY[] = "----AppTestBoundary4kZ2QxR8";
// What every HTML response starts with.
inline constexpr char HTML_HEADER[] = "Content-type: text/html\n\n";

// A multipart/form-data body laid out as browsers send it (CR LF line ends).
class MultipartBody {
  public:
    MultipartBody& field(const std::string& name, const std::string& value);
    MultipartBody& file(const std::string& name, const std::string& file_name,
                        const std::string& content, const std::string& type = "text/plain");
    // The body with its closing delimiter.
    std::string text() const { return parts_ + "--" + TEST_BOUNDARY + "--\r\n"; }

  private:
    std::string parts_;
};

// One submission of the form; each field is sent unless its flag says otherwise.
struct Application {
    std::string name = "Jane Doe";
    std::string mail = "jane@example.org";
    std::string interest = "Systems programming in C++";
    std::string file_name = "hello.txt";
    std::string resume = "hello";
    std::string directory = "people";
    bool send_name = true;
    bool send_mail = true;
    bool send_interest = true;
    bool send_resume = true;
    bool send_directory = true;
};

std::string body_of(const Application& application);

// A fixture file's bytes (tests/app/fixtures).
std::string fixture(const char* name);

// The form page as it is shown with these values and message (null: none).
std::string expected_form(const std::string& name, const std::string& mail,
                          const std::string& resume, const std::string& interest,
                          const char* message);

// The "Can't create" page for a path, as it appears in the page.
std::string expected_cant_create(const std::string& shown_path);

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directory(people()); }

    fs::path people() const { return work_.path() / "people"; }
    const fs::path& work() const { return work_.path(); }

    CgiCall call_for(const Application& application) const {
        return multipart_request(work(), body_of(application), TEST_BOUNDARY);
    }
    CgiResult submit(const Application& application) const {
        return run_apply(call_for(application));
    }

  private:
    TempDir work_;
};

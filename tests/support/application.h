// The application's submission as the black-box tests send it: a complete application with
// defaults, its multipart body as a browser sends it, the expected pages, and a fixture with a
// fresh working directory and store root.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cgi_run.h"
#include "test_files.h"

namespace fs = std::filesystem;

inline constexpr char TEST_BOUNDARY[] = "----AppTestBoundary4kZ2QxR8";

// One submission of the form; each field is sent unless its flag says otherwise.
struct Application {
    std::string name = "Jane Doe";
    std::string mail = "jane@example.org";
    std::string interest = "Systems programming in C++";
    std::string file_name = "hello.txt";
    std::string resume = "hello";
    std::string resume_type = "text/plain";
    std::string directory = "people";
    bool send_name = true;
    bool send_mail = true;
    bool send_interest = true;
    bool send_resume = true;
    bool send_directory = true;
};

// The application's parts in the form's order, the submit button last.
std::vector<Part> parts_of(const Application& application);
// The multipart body a browser sends for the application (CR LF line ends).
std::string body_of(const Application& application);

// The parts of a complete submission with these values and an octet-stream resume.
std::vector<Part> application_parts(const std::string& name, const std::string& resume,
                                    const std::string& directory = "people",
                                    const std::string& resume_file = "cv.txt",
                                    const std::string& mail = "jo@example.org",
                                    const std::string& interest = "Systems work");
// A complete multipart submission of `parts` run in `work`.
CgiCall submission(const std::string& work, const std::vector<Part>& parts);

// A page fixture's bytes (tests/fixtures/pages).
std::string fixture(const char* name);

// The form page as it is shown with these values and message (null: none).
std::string expected_form(const std::string& name, const std::string& mail,
                          const std::string& resume, const std::string& interest,
                          const char* message);

// The "Can't create" page for a path, as it appears in the page.
std::string expected_cant_create(const std::string& shown_path);

// Makes `folder` a store root as the admin command does: its descriptor index.json.
void declare_store_root(const fs::path& folder);

// A working directory with an empty store root "people"; removed with what it holds.
class StoreDir : public TempDir {
  public:
    explicit StoreDir(const char* prefix = "apply-test") : TempDir(prefix) {
        fs::create_directory(path() / "people");
    }
    // The application's submission, run in this directory.
    CgiCall call_for(const Application& application) const {
        return multipart_request(path(), body_of(application), TEST_BOUNDARY);
    }
};

class AppTest : public ::testing::Test {
  protected:
    fs::path people() const { return work_.path() / "people"; }
    const fs::path& work() const { return work_.path(); }

    CgiCall call_for(const Application& application) const { return work_.call_for(application); }
    CgiResult submit(const Application& application) const {
        return run_cgi(call_for(application));
    }

  private:
    StoreDir work_;
};

// The real-client corpus (tests/fixtures/corpus): the cases' names, and each case's body, headers
// and what the client sent, read with nlohmann-json.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"

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

// A gtest name for a corpus case.
inline std::string corpus_case_name(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// A captured client body with its headers and the parts the client sent.
struct CorpusCase {
    explicit CorpusCase(const std::string& name)
        : dir(std::string(CORPUS_DIR) + "/" + name),
          headers(nlohmann::json::parse(read_file(dir + "/headers.json"))),
          expected(nlohmann::json::parse(read_file(dir + "/expected.json"))),
          parts(expected["parts"]),
          body(read_file(dir + "/body.bin")),
          content_type(headers.value("content_type", "")) {}
    std::string dir;
    nlohmann::json headers;
    nlohmann::json expected;  // what the client sent: "parts", and the "upload"'s name, length, sha256
    nlohmann::json parts;  // an array of objects: name, filename, content_type_line, value, ...
    std::string body;
    std::string content_type;
};

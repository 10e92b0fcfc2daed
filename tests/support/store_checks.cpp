// Checks of the applicant store's integrity.
#include "store_checks.h"

#include <filesystem>

namespace fs = std::filesystem;

bool is_thank_you(const CgiResult& result) {
    return result.out.find("Thank You!") != std::string::npos;
}

bool is_cant_create(const CgiResult& result) {
    return result.out.rfind("Status: 500 ", 0) == 0 &&
           result.out.find("Can't create") != std::string::npos &&
           without_time(result.err).rfind("apply.cgi: Can't create '", 0) == 0 &&
           result.exit_status == 1;
}

int exit_status_for(const CgiResult& result) {
    return result.out.rfind("Status: 500 ", 0) == 0 || result.out.rfind("Status: 503 ", 0) == 0;
}

std::string without_time(const std::string& line) {
    // YYYY-MM-DDTHH:MM:SSZ and a space.
    constexpr std::size_t kLength = 21;
    if (line.size() < kLength || line[4] != '-' || line[10] != 'T' || line[19] != 'Z' ||
        line[20] != ' ')
        return "";
    return line.substr(kLength);
}

std::vector<std::string> list_lines(const std::string& list, bool* whole) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(list.substr(start));
            *whole = false;
            return lines;
        }
        lines.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    *whole = true;
    return lines;
}

int lines_for(const std::vector<std::string>& lines, const std::string& name) {
    int count = 0;
    for (const std::string& line : lines) {
        if (line.size() > name.size() + 4 &&
            line.compare(line.size() - name.size() - 5, name.size() + 5, ">" + name + "</a>") ==
                0) {
            ++count;
        }
    }
    return count;
}

bool applicant_page_complete(const std::string& page, const std::string& name) {
    const std::string end = "</body>\n";
    return page.rfind("<html>\n", 0) == 0 && page.size() > end.size() &&
           page.compare(page.size() - end.size(), end.size(), end) == 0 &&
           page.find("<h1>" + name + "</h1>") != std::string::npos;
}

std::vector<std::string> stray_files(const std::string& store,
                                     const std::set<std::string>& resume_names) {
    std::vector<std::string> stray;
    for (const auto& entry : fs::recursive_directory_iterator(store)) {
        if (entry.is_directory()) continue;
        std::string relative = fs::relative(entry.path(), store).string();
        std::string file = entry.path().filename().string();
        bool top = relative.find('/') == std::string::npos;
        // The store's own files: the list and catalogue at the top, page and record beside
        // every resume.
        if (top ? (file == "index.html" || file == "index.jsonl")
                : (file == "index.html" || file == "index.json" || resume_names.count(file)))
            continue;
        stray.push_back(relative);
    }
    return stray;
}

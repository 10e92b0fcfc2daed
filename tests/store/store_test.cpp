// Filing a submission: the applicant folder, page, list line and resume, on first and repeated
// submissions, with the pages and files checked byte for byte; the staff table's search and sort
// over what was filed.
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "app/store/possible_duplicates.h"
#include "store_checks.h"

namespace {

std::string list_line(const std::string& target, const std::string& text) {
    return "<br><a href=\"" + target + "\">" + text + "</a>\n";
}

nlohmann::json json_at(const fs::path& path) {
    return nlohmann::json::parse(read_file(path), nullptr, false);
}

// The folders of earlier submissions in an applicant folder, oldest first.
std::vector<fs::path> earlier_folders(const fs::path& applicant) {
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(applicant)) {
        if (entry.is_directory()) folders.push_back(entry.path());
    }
    // Named by filing time, "-2", "-3"... added within one second.
    std::sort(folders.begin(), folders.end());
    return folders;
}

}  // namespace

TEST_F(AppTest, AFirstSubmissionFilesFolderPageListLineAndResume) {
    CgiResult result = submit(Application{});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, HTML_HEADER + fixture("thank_you.html") + "</html>\n");
    EXPECT_EQ(read_file(people() / "Jane Doe" / "index.html"), fixture("applicant_page.html"));
    EXPECT_EQ(read_file(people() / "index.html"), list_line("Jane%20Doe", "Jane Doe"));
    EXPECT_EQ(read_file(people() / "Jane Doe" / "hello.txt"), "hello");
    EXPECT_EQ(tree_of(work()),
              (std::set<std::string>{"people", "people/index.html", "people/index.jsonl",
                                     "people/.tmp-runs",  // the register of runs, kept empty
                                     "people/Jane Doe", "people/Jane Doe/index.html",
                                     "people/Jane Doe/index.json", "people/Jane Doe/hello.txt"}));
    const nlohmann::json record = json_at(people() / "Jane Doe" / "index.json");
    EXPECT_EQ(record["name"], "Jane Doe");
    EXPECT_EQ(record["mail"], "jane@example.org");
    EXPECT_EQ(record["interest"], "Systems programming in C++");
    EXPECT_EQ(record["resume"], "hello.txt");
    EXPECT_EQ(record["resume_size"], 5);
    EXPECT_EQ(record["filed"].get<std::string>().size(), 20u);
    nlohmann::json line = json_at(people() / "index.jsonl");
    EXPECT_EQ(line["folder"], "Jane Doe");
    line.erase("folder");
    line.erase("stamp");
    EXPECT_EQ(line, record);
}

TEST_F(AppTest, ALaterSubmissionKeepsEachEarlierOneWholeInAFolderOfItsOwn) {
    // Two people with one name, then a corrected resume under the second one's file name.
    submit({.name = "Maria Garcia", .mail = "maria.garcia@example.org",
            .file_name = "Maria_Garcia_CV.pdf", .resume = "first"});
    const fs::path maria = people() / "Maria Garcia";
    const std::string first_page = read_file(maria / "index.html");
    const std::string list_before = read_file(people() / "index.html");
    for (const char* resume : {"second", "third"}) {
        CgiResult result = submit({.name = "Maria Garcia", .mail = "mgarcia.dev@example.com",
                                   .file_name = "CV-MariaGarcia-Engineer.pdf", .resume = resume});
        EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    }
    EXPECT_EQ(read_file(people() / "index.html"), list_before);
    EXPECT_EQ(read_file(maria / "CV-MariaGarcia-Engineer.pdf"), "third");
    const std::vector<fs::path> earlier = earlier_folders(maria);
    ASSERT_EQ(earlier.size(), 2u);
    // Each earlier submission whole: its page as it was, its resume, its record.
    EXPECT_EQ(read_file(earlier[0] / "index.html"), first_page);
    EXPECT_EQ(read_file(earlier[0] / "Maria_Garcia_CV.pdf"), "first");
    EXPECT_EQ(json_at(earlier[0] / "index.json")["mail"], "maria.garcia@example.org");
    EXPECT_EQ(read_file(earlier[1] / "CV-MariaGarcia-Engineer.pdf"), "second");
    EXPECT_FALSE(fs::exists(maria / "Maria_Garcia_CV.pdf"));
    // The page links them, newest first, before its closing lines.
    const std::string page = read_file(maria / "index.html");
    const std::string second = earlier[1].filename().string();
    const std::string first = earlier[0].filename().string();
    const std::string date = first.substr(0, 4) + "-" + first.substr(4, 2) + "-" +
                             first.substr(6, 2) + " " + first.substr(9, 2) + ":" +
                             first.substr(11, 2) + ":" + first.substr(13, 2) + " UTC";
    EXPECT_NE(page.find("</center>\n<p>\n<center>\nEarlier submissions:\n<br><a href=\"" + second +
                        "/\">"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<br><a href=\"" + first + "/\">" + date + "</a>\n</center>\n<br>\n"),
              std::string::npos)
        << page;
    EXPECT_LT(page.find(second + "/"), page.find(first + "/"));
}

TEST_F(AppTest, ANameInAnyNormalizationFormIsOneApplicant) {
    // "José" with a combining accent (NFD), then precomposed (NFC): one folder, one line.
    submit({.name = "Jose\u0301"});
    submit({.name = "Jos\u00E9", .file_name = "cv.txt"});
    EXPECT_EQ(read_file(people() / "index.html"), list_line("Jos\u00E9", "Jos\u00E9"));
    EXPECT_EQ(earlier_folders(people() / "Jos\u00E9").size(), 1u);
    EXPECT_FALSE(fs::exists(people() / "Jose\u0301"));

    // Spaces typed by accident are tidied, not refused: still one applicant.
    CgiResult result = submit({.name = " Anna  Schmidt "});
    EXPECT_NE(result.out.find("Name: Anna Schmidt\n"), std::string::npos);
    submit({.name = "Anna Schmidt", .file_name = "cv.txt"});
    EXPECT_EQ(read_file(people() / "index.html"),
              list_line("Jos\u00E9", "Jos\u00E9") + list_line("Anna%20Schmidt", "Anna Schmidt"));
    EXPECT_EQ(earlier_folders(people() / "Anna Schmidt").size(), 1u);
}

TEST_F(AppTest, ASecondApplicantAddsALineAfterTheFirst) {
    submit(Application{});
    CgiResult result = submit({.name = "Max"});
    EXPECT_NE(result.out.find("Name: Max\n"), std::string::npos);
    EXPECT_EQ(read_file(people() / "index.html"),
              list_line("Jane%20Doe", "Jane Doe") + list_line("Max", "Max"));
}

TEST_F(AppTest, AnUploadFileNameEndingInASeparatorIsRefusedBeforeAnythingIsWritten) {
    // It leaves no name for the resume file: filing it would leave a page and a list line
    // that link to no resume.
    for (const char* file_name : {"folder/", "folder\\"}) {
        CgiResult result = submit({.file_name = file_name});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.out,
                  HTML_HEADER + expected_form("Jane Doe", "jane@example.org", "",
                                              "Systems programming in C++",
                                              "Please fill out the resume field"))
            << file_name;
        EXPECT_EQ(tree_of(work()), std::set<std::string>{"people"}) << file_name;
    }
}

TEST_F(AppTest, AClientPathInTheFileNameStoresOnlyItsLastComponent) {
    submit({.file_name = "C:\\docs\\cv.txt"});
    EXPECT_EQ(read_file(people() / "Jane Doe" / "cv.txt"), "hello");

    submit({.file_name = "/home/jane/my cv.txt", .resume = "mine"});
    EXPECT_EQ(read_file(people() / "Jane Doe" / "my cv.txt"), "mine");
    std::string page = read_file(people() / "Jane Doe" / "index.html");
    EXPECT_NE(page.find("<a href=\"my%20cv.txt\">My resume is here</a>\n"), std::string::npos);
    const std::vector<fs::path> earlier = earlier_folders(people() / "Jane Doe");
    ASSERT_EQ(earlier.size(), 1u);
    EXPECT_EQ(read_file(earlier[0] / "cv.txt"), "hello");
}

TEST_F(AppTest, BinaryUploadsAreStoredByteForByte) {
    std::string bytes = "B";
    for (int round = 0; round < 300; ++round) {
        for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
        bytes += std::string(17, '\0') + "\r\n--" + std::string(TEST_BOUNDARY).substr(0, 10);
    }
    bytes += "\r";
    Application application;
    application.file_name = "binary.bin";
    application.resume = bytes;
    CgiResult result = submit(application);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    std::string stored = read_file(people() / "Jane Doe" / "binary.bin");
    EXPECT_EQ(stored.size(), bytes.size());
    EXPECT_TRUE(stored == bytes);
}

TEST_F(AppTest, AStoreRootDeclaredByItsDescriptorOrTheServerIsUsedAsGiven) {
    declare_store_root(work() / "jobs" / "2026");
    fs::create_directories(work() / "teams");
    for (const char* root : {"jobs/2026", "teams"}) {
        Application application;
        application.directory = root;
        CgiCall call = call_for(application);
        set_env(call, "APPLY_STORE_ROOTS", "people:teams");
        CgiResult result = run_cgi(call);
        EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos) << root;
        EXPECT_EQ(read_file(work() / root / "Jane Doe" / "hello.txt"), "hello");
        EXPECT_EQ(read_file(work() / root / "index.html"), list_line("Jane%20Doe", "Jane Doe"));
    }
}

// A list larger than any fixed buffer keeps every byte when a new applicant is added.
TEST_F(AppTest, AListLargerThanSixteenMebibytesKeepsEveryByte) {
    std::string old_list;
    for (int i = 0; old_list.size() <= 17u * 1024 * 1024; ++i) {
        old_list +=
            "<br><a href=\"Old%20" + std::to_string(i) + "\">Old " + std::to_string(i) + "</a>\n";
    }
    write_file(people() / "index.html", old_list);
    Application application;
    application.resume = binary_content(1000, 5);
    application.resume_type = "application/octet-stream";
    CgiResult result = submit(application);
    EXPECT_NE(result.out.find("<h1>Thank You!</h1>"), std::string::npos);
    const std::string new_line = list_line("Jane%20Doe", "Jane Doe");
    std::string list = read_file(people() / "index.html");
    EXPECT_EQ(list.size(), old_list.size() + new_line.size());
    EXPECT_TRUE(list == old_list + new_line);
    bool whole = false;
    EXPECT_EQ(lines_for(list_lines(list.substr(old_list.size()), &whole), "Jane Doe"), 1);
    EXPECT_TRUE(whole);
    EXPECT_TRUE(read_file(people() / "Jane Doe" / "hello.txt") == application.resume);
}

// The staff table's search and name sort as people write names: case and accents folded (what
// the folding leaves apart stays apart), names in the collation of the locale set, and the
// signs of possible duplicates.
TEST(ApplicantTable, SearchFoldsCaseAndAccentsAndTheNameSortFollowsTheCollation) {
    struct Person {
        const char* name;
        const char* mail;
    };
    const Person people[] = {
        {"Jürgen Müller", "jm@example.org"}, {"Émilie Dubois", "emilie@example.org"},
        {"Łukasz Nowak", "LN@example.org"},  {"Иван Петров", "ivan@example.org"},
        {"李娜", "li@example.org"},           {"Anna Straße", "anna@example.org"},
        {"Östen Berg", "osten@example.org"}, {"Zoe Abel", "zoe@example.org"},
        {"JURGEN MULLER", "other@example.org"}, {"Olaf Lind", "ln@EXAMPLE.org"},
        {"Søren Dahl", "sd@example.org"}};
    store::Catalogue catalogue;
    for (const Person& p : people) {
        store::CatalogueLine line;
        line.folder = line.name = p.name;
        line.mail = p.mail;
        line.filed = "2026-01-01T00:00:00Z";
        catalogue.lines.push_back(line);
    }
    const std::vector<store::ApplicantRow> rows = store::applicant_rows(catalogue);
    auto found = [&](const std::string& query) {
        std::vector<store::ApplicantRow> hits = rows;
        store::filter_and_sort(catalogue, hits, query, store::RowOrder::name_ascending);
        std::vector<std::string> names;
        for (const auto& r : hits) names.emplace_back(r.latest.name);
        return names;
    };
    using Names = std::vector<std::string>;
    const std::pair<const char*, Names> searches[] = {
        // Unaccented before accented: the collation's second level.
        {"muller", {"JURGEN MULLER", "Jürgen Müller"}}, {"MÜLLER", {"JURGEN MULLER", "Jürgen Müller"}},
        {"emilie", {"Émilie Dubois"}},  {"ÉMILIE", {"Émilie Dubois"}},
        {"strasse", {"Anna Straße"}},   {"иВАН", {"Иван Петров"}},
        {"李", {"李娜"}},                {"łukasz", {"Łukasz Nowak"}},
        {"lukasz", {"Łukasz Nowak"}},   {"mueller", {}},
        {"soren", {"Søren Dahl"}},      {"SØREN", {"Søren Dahl"}},
        {"OSTEN@", {"Östen Berg"}},
    };
    for (const auto& [query, names] : searches) EXPECT_EQ(found(query), names) << query;

    auto sorted = [&](const std::string& locale, store::RowOrder order) {
        std::vector<store::ApplicantRow> all = rows;
        store::filter_and_sort(catalogue, all, "", order, 3, locale);
        return Names{std::string(all[0].latest.name), std::string(all[1].latest.name),
                     std::string(all[2].latest.name)};
    };
    EXPECT_EQ(sorted("en", store::RowOrder::name_ascending),
              (Names{"Anna Straße", "Émilie Dubois", "JURGEN MULLER"}));
    EXPECT_EQ(sorted("en", store::RowOrder::name_descending), (Names{"李娜", "Иван Петров", "Zoe Abel"}));
    // Ö is an O in English, a letter after Z in Swedish.
    std::vector<store::ApplicantRow> all = rows;
    for (const char* locale : {"en", "sv"}) {
        store::filter_and_sort(catalogue, all, "", store::RowOrder::name_ascending, all.size(), locale);
        Names latin;
        for (const auto& r : all)
            if (r.latest.name.starts_with("O") || r.latest.name.starts_with("Ö") ||
                r.latest.name.starts_with("Z"))
                latin.emplace_back(r.latest.name);
        EXPECT_EQ(latin, (std::string(locale) == "en" ? Names{"Olaf Lind", "Östen Berg", "Zoe Abel"}
                                                     : Names{"Olaf Lind", "Zoe Abel", "Östen Berg"}))
            << locale;
    }

    // The same address (any case) under another name; the same folded name with another one.
    const std::vector<store::DuplicateSigns> signs = store::duplicate_signs(catalogue, rows);
    std::vector<std::pair<std::string, std::string>> marked;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (signs[i].any())
            marked.emplace_back(rows[i].latest.name, signs[i].same_mail ? "mail" : "name");
    EXPECT_EQ(marked, (std::vector<std::pair<std::string, std::string>>{
                          {"Jürgen Müller", "name"}, {"Łukasz Nowak", "mail"},
                          {"JURGEN MULLER", "name"}, {"Olaf Lind", "mail"}}));
}

// A name's folder split into its applicants, and the references that name them.
#include "app/store/applicants.h"

#include <openssl/evp.h>

#include <algorithm>

#include "app/store/record.h"

namespace store {

std::string person_id(std::string_view key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length && i < 16; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

ApplicantRef reference_of(const Applicant& applicant) {
    return {applicant.folder_name, person_id(applicant.person)};
}

std::vector<Applicant> applicants_in(const ApplicantStore& store, std::string_view name) {
    std::vector<Applicant> people;
    auto folder = store.read_folder(name);
    if (!folder) return people;
    // The folder's submissions come newest first (its latest, then its stamps): each person's
    // keep that order, and people are ordered by their newest.
    for (StoredSubmission& s : folder->submissions) {
        std::string key = s.record ? person_key(s.record->mail) : std::string();
        auto it = std::find_if(people.begin(), people.end(),
                               [&](const Applicant& a) { return a.person == key; });
        if (it == people.end()) {
            people.push_back({folder->folder_name, folder->path, key, {}});
            it = people.end() - 1;
        }
        it->submissions.push_back(std::move(s));
    }
    return people;
}

std::optional<Applicant> find_applicant(const ApplicantStore& store, const ApplicantRef& ref) {
    for (Applicant& a : applicants_in(store, ref.folder))
        if (person_id(a.person) == ref.person_id) return std::move(a);
    return std::nullopt;
}

std::optional<Applicant> find_applicant(const ApplicantStore& store, std::string_view name,
                                        std::string_view mail, std::string& error) {
    std::vector<Applicant> people = applicants_in(store, name);
    if (people.empty()) {
        error = "no such applicant: " + std::string(name);
        return std::nullopt;
    }
    if (mail.empty()) {
        if (people.size() == 1) return std::move(people.front());
        error = std::string(name) + " is the name of " + std::to_string(people.size()) +
                " applicants; say which with --mail:";
        for (const Applicant& a : people)
            error += " " + (a.submissions.front().record ? a.submissions.front().record->mail
                                                         : std::string("(no record)"));
        return std::nullopt;
    }
    const std::string key = person_key(mail);
    for (Applicant& a : people)
        if (a.person == key) return std::move(a);
    error = "no applicant " + std::string(name) + " with the address " + std::string(mail);
    return std::nullopt;
}

Record shown_record(const Applicant& applicant, const StoredSubmission& submission) {
    if (submission.record) return *submission.record;
    Record r;
    r.name = applicant.folder_name;
    return r;
}

std::string newest_filed(const Applicant& applicant) {
    std::string newest;
    for (const StoredSubmission& s : applicant.submissions)
        if (s.record && s.record->filed > newest) newest = s.record->filed;
    return newest;
}

std::vector<std::string> submission_files(const StoredSubmission& s) {
    std::string base = s.stamp.empty() ? "" : s.stamp + "/";
    std::vector<std::string> files{base + RECORD_FILE_NAME, base + PAGE_FILE_NAME};
    if (s.record && !s.record->resume.empty() && s.record->resume.find('/') == std::string::npos &&
        !is_reserved_name(s.record->resume))
        files.push_back(base + s.record->resume);
    return files;
}

}  // namespace store

// The catalogue index.jsonl read whole: one line per filed submission, in filing order. Its lines
// are written by one codec only (record_json with the folder and the filing stamp, record.h):
// filing appends them, the operations copy them byte for byte or write them anew the same way.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

// One catalogue line: its fields as views into the Catalogue that holds it, and the line itself.
struct CatalogueLine {
    std::string_view folder, stamp, name, mail, interest, resume, filed;
    std::int64_t resume_size = 0;
    std::string_view text;  // the whole JSON line, without its line end
};

// The lines view one buffer the Catalogue owns (no allocation per field: the console reads
// 100,000 lines for a page); they live as long as the Catalogue.
class Catalogue {
  public:
    std::vector<CatalogueLine> lines;

  private:
    friend Catalogue read_catalogue(const ApplicantStore& store);
    std::unique_ptr<char[]> buffer_;
    std::deque<std::string> owned_;  // texts of lines rebuilt from records
};

// Every whole line of the catalogue (a line a crash cut short is skipped). A store filed before
// the catalogue existed has its lines made from the records.
Catalogue read_catalogue(const ApplicantStore& store);
// The catalogue line of a stored submission of the folder `folder`, without its line end.
std::string catalogue_line(const Record& record, std::string_view folder);
// Rewrites the catalogue in place with `text` (whole lines) under the held lock, and flushes it.
// In place: filing may hold the catalogue open from before it took the lock, and appends to the
// file it opened; a file renamed over it would lose that line.
bool write_catalogue(const ApplicantStore& store, const std::string& text);

}  // namespace store

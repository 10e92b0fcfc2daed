// The record kept beside every submission (index.json), the catalogue's lines, and the UTC time
// stamps that name the folders of earlier submissions.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/store/applicant_store.h"

namespace store {

// The record as one line of JSON (no line end); with `folder` and `stamp` also set, a line of
// the catalogue.
std::string record_json(const Record& record, std::string_view folder = {},
                        std::string_view stamp = {});
// The record in the file at `path`; nullopt when it is missing or not a record.
std::optional<Record> read_record(const std::string& path);

// A UTC time as the record writes it: "2026-12-08T16:20:05Z".
std::string filed_text(std::time_t when);
// A UTC time in the stamp form: "20261208T162005Z".
std::string stamp_text(std::time_t when);
// The stamp form of a record's filing time; empty when it is not of the record's form.
std::string stamp_of_filed(std::string_view filed);
// Whether `name` has the stamp form, YYYYMMDDTHHMMSSZ with an optional "-<n>".
bool is_stamp_name(std::string_view name);
// The stamps of the earlier submissions kept in the applicant folder `folder`, newest first. A
// stamp folder holding the current files themselves (a move a crash interrupted) is none.
std::vector<std::string> earlier_stamps(const std::string& folder);

// The date an earlier submission's section shows for a stamp: "2026-12-08 16:20:05 UTC".
std::string stamp_date(std::string_view stamp);

}  // namespace store

// What the news sender has announced to whom, and how its last sends went: news-state.json,
// written only by a drain under the news lock.
#pragma once

#include <map>
#include <set>
#include <string>

#include "app/store/news_files.h"

namespace news {

// How far one staff member's news has gone: every catalogue line filed after `through` is news
// to her, and so is a line filed shortly before it (filings take their time before they take
// the store lock, so lines are appended a little out of order) unless its key is in `seen`.
struct Watermark {
    std::string through;         // filing time (UTC, the records' form); "" : since subscribing
    std::set<std::string> seen;  // keys of the lines announced that were filed near `through`
    std::string last_mail;       // when her last mail went (a digest's day counts from it)
};

struct NewsState {
    std::map<std::string, Watermark> staff;  // by staff login
    std::string last_sent;                   // when a mail last went, to anyone
    std::string last_failure, failure;       // when a send last failed, and why
    bool failing = false;                    // whether the last send tried failed
};

// The state in the file; an empty one when it is missing (`exists` false). False when it
// cannot be read or is not a state file.
bool read_state(const NewsFiles& files, NewsState& state, bool& exists, std::string& error);
bool write_state(const NewsFiles& files, const NewsState& state, std::string& error);

// One line for staff and monitoring: "last sent <time>; last failure <time>: <reason>", or
// "not set up (...)" when no drain has run yet.
std::string news_status(const NewsFiles& files);

}  // namespace news

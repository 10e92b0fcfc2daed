// The news sender: mails each subscribed staff member how many applications arrived since her
// last mail (never who applied), from the catalogue the filings already write. Run by
// `apply-admin news` from a timer; filing itself never waits for it or depends on it.
#pragma once

#include <ctime>
#include <string>

#include "app/store/applicant_store.h"
#include "app/store/news_files.h"

namespace news {

struct NewsSettings {
    NewsFiles files;
    std::string sendmail;     // the sendmail command
    std::string console_url;  // the console's address, linked in every mail
    int send_timeout_seconds = 60;
};

struct DrainResult {
    int sent = 0, failed = 0;
    std::string error;  // the last failure, "" when none
};

// Counts the lines each subscriber has not heard of, and for a subscriber with news (a digest:
// once a day, from her last digest or her subscription) sends one mail naming the count and
// linking the console. A mail that went moves her watermark past what it counted, and the
// state is replaced at once; one that did not leaves it, to be sent by the next run, and is
// recorded as the last failure. Runs under the news lock (two runs never send the same news).
DrainResult drain_news(const store::ApplicantStore& store, const NewsSettings& settings,
                       std::time_t now);

// The mail's text for `count` new applications (`daily`: the digest's wording).
std::string news_message(const std::string& to, const std::string& console_url, std::size_t count,
                         bool daily, const std::string& since);

}  // namespace news

// The staff's subscriptions to news of new applications, one per staff login: the address the
// mail goes to, and whether it comes for each batch of new applications or as a daily digest.
#pragma once

#include <string>
#include <vector>

#include "app/store/news_files.h"

namespace news {

enum class Cadence { each, daily };

struct Subscription {
    std::string user;     // the staff login (REMOTE_USER)
    std::string address;  // the mail address
    Cadence cadence = Cadence::each;
    std::string since;  // when it was made or last changed (UTC, the records' form)
};

const char* cadence_word(Cadence cadence);  // "each" or "daily"
bool parse_cadence(const std::string& word, Cadence& cadence);

// Whether `address` is one plain mail address, local@domain, that is safe on sendmail's command
// line and in a header: printable ASCII without spaces, quotes, brackets or a leading '-'.
bool valid_mail_address(const std::string& address);

// The subscriptions in the file (none when it is missing); false when it cannot be read or is
// not a subscriptions file.
bool read_subscriptions(const NewsFiles& files, std::vector<Subscription>& subscriptions,
                        std::string& error);
// Sets (or with `remove`, removes) the subscription of `subscription.user`, under the news lock
// (waiting for it at most a few seconds).
bool save_subscription(const NewsFiles& files, const Subscription& subscription, bool remove,
                       std::string& error);

}  // namespace news

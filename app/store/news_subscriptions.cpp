// The subscriptions file, news-subscriptions.json:
//   {"subscriptions": [{"user": "...", "address": "...", "cadence": "each|daily", "since": "..."}]}
#include "app/store/news_subscriptions.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

namespace news {

const char* cadence_word(Cadence cadence) {
    return cadence == Cadence::daily ? "daily" : "each";
}

bool parse_cadence(const std::string& word, Cadence& cadence) {
    if (word == "each")
        cadence = Cadence::each;
    else if (word == "daily")
        cadence = Cadence::daily;
    else
        return false;
    return true;
}

bool valid_mail_address(const std::string& address) {
    if (address.size() < 3 || address.size() > 254 || address.front() == '-') return false;
    const std::size_t at = address.find('@');
    if (at == 0 || at == std::string::npos || at + 1 == address.size() ||
        address.find('@', at + 1) != std::string::npos ||
        address.find('.', at) == std::string::npos)
        return false;
    return std::all_of(address.begin(), address.end(), [](char ch) {
        return ch > ' ' && ch < 127 && !std::strchr("\"'`\\()<>[],;:|", ch);
    });
}

bool read_subscriptions(const NewsFiles& files, std::vector<Subscription>& subscriptions,
                        std::string& error) {
    subscriptions.clear();
    std::string text;
    bool missing = false;
    if (!read_whole_file(files.subscriptions(), text, missing)) {
        if (missing) return true;
        error = "cannot read " + files.subscriptions();
        return false;
    }
    const nlohmann::json all = nlohmann::json::parse(text, nullptr, false);
    if (!all.is_object() || !all.contains("subscriptions") || !all["subscriptions"].is_array()) {
        error = files.subscriptions() + " is not a subscriptions file";
        return false;
    }
    for (const nlohmann::json& item : all["subscriptions"]) {
        Subscription s;
        if (!item.is_object()) continue;
        s.user = item.value("user", "");
        s.address = item.value("address", "");
        s.since = item.value("since", "");
        // An entry the console would not have written is left out rather than mailed.
        if (s.user.empty() || !valid_mail_address(s.address) ||
            !parse_cadence(item.value("cadence", ""), s.cadence))
            continue;
        subscriptions.push_back(std::move(s));
    }
    return true;
}

bool save_subscription(const NewsFiles& files, const Subscription& subscription, bool remove,
                       std::string& error) {
    const NewsLock lock(files, 5);
    if (!lock.held()) {
        error = "the news files are busy (a mail run holds their lock); try again";
        return false;
    }
    std::vector<Subscription> all;
    if (!read_subscriptions(files, all, error)) return false;
    std::erase_if(all, [&](const Subscription& s) { return s.user == subscription.user; });
    if (!remove) all.push_back(subscription);
    nlohmann::json list = nlohmann::json::array();
    for (const Subscription& s : all)
        list.push_back({{"user", s.user},
                        {"address", s.address},
                        {"cadence", cadence_word(s.cadence)},
                        {"since", s.since}});
    return replace_file(files.subscriptions(),
                        nlohmann::json{{"subscriptions", list}}.dump(
                            1, ' ', false, nlohmann::json::error_handler_t::replace) +
                            "\n",
                        error);
}

}  // namespace news

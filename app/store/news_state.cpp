// news-state.json:
//   {"last_sent": "...", "last_failure": "...", "failure": "...", "failing": true|false,
//    "staff": {"<login>": {"through": "...", "seen": ["<key>", ...], "last_mail": "..."}}}
#include "app/store/news_state.h"

#include <nlohmann/json.hpp>

namespace news {

bool read_state(const NewsFiles& files, NewsState& state, bool& exists, std::string& error) {
    state = {};
    std::string text;
    bool missing = false;
    exists = read_whole_file(files.state(), text, missing);
    if (!exists) {
        if (missing) return true;
        error = "cannot read " + files.state();
        return false;
    }
    const nlohmann::json all = nlohmann::json::parse(text, nullptr, false);
    if (!all.is_object()) {
        error = files.state() + " is not a news state file";
        return false;
    }
    state.last_sent = all.value("last_sent", "");
    state.last_failure = all.value("last_failure", "");
    state.failure = all.value("failure", "");
    state.failing = all.value("failing", false);
    if (const auto staff = all.find("staff"); staff != all.end() && staff->is_object())
        for (const auto& [user, mark] : staff->items()) {
            if (!mark.is_object()) continue;
            Watermark& w = state.staff[user];
            w.through = mark.value("through", "");
            w.last_mail = mark.value("last_mail", "");
            if (const auto seen = mark.find("seen"); seen != mark.end() && seen->is_array())
                for (const nlohmann::json& key : *seen)
                    if (key.is_string()) w.seen.insert(key.get<std::string>());
        }
    return true;
}

bool write_state(const NewsFiles& files, const NewsState& state, std::string& error) {
    nlohmann::json staff = nlohmann::json::object();
    for (const auto& [user, w] : state.staff)
        staff[user] = {{"through", w.through}, {"seen", w.seen}, {"last_mail", w.last_mail}};
    const nlohmann::json all{{"last_sent", state.last_sent},
                             {"last_failure", state.last_failure},
                             {"failure", state.failure},
                             {"failing", state.failing},
                             {"staff", staff}};
    return replace_file(files.state(),
                        all.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
                        error);
}

std::string news_status(const NewsFiles& files) {
    if (files.dir.empty()) return "not set up (no APPLY_NEWS_DIR or audit log)";
    NewsState state;
    bool exists = false;
    std::string error;
    if (!read_state(files, state, exists, error)) return error;
    if (!exists) return "not set up (no mail run yet: apply-admin news, run by its timer)";
    std::string line = "last sent " + (state.last_sent.empty() ? "never" : state.last_sent);
    if (!state.last_failure.empty())
        line += "; last failure " + state.last_failure + ": " + state.failure;
    return line;
}

}  // namespace news

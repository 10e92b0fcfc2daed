// The drain of news: catalogue lines against each subscriber's watermark.
#include "app/store/news_drain.h"


#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "app/store/applicants.h"
#include "app/store/audit_log.h"
#include "app/store/catalogue.h"
#include "app/store/news_mail.h"
#include "app/store/news_state.h"
#include "app/store/news_subscriptions.h"

namespace news {

namespace {

// How far before a watermark a line may still turn up: a filing takes its time before the
// store lock and appends its line under it, minutes later at worst (a large upload).
constexpr std::time_t LATE_LINE_SECONDS = 15 * 60;
constexpr std::time_t DIGEST_SECONDS = 24 * 60 * 60;

// A line's key: 128 bits of the SHA-256 of the line, in hex (the state names no applicant), made
// as the store makes a person id from her key.
std::string line_key(std::string_view text) { return store::person_id(text); }

std::time_t parse_utc(const std::string& text) {
    std::tm t{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &t);
    return end && !*end ? timegm(&t) : 0;
}

std::string earlier(const std::string& utc, std::time_t seconds) {
    return utc.empty() ? "" : store::utc_text(parse_utc(utc) - seconds);
}

// The lines `mark` has not announced, filed since `since` (its second included: a filing
// in the second of subscribing is announced rather than lost).
std::vector<const store::CatalogueLine*> news_for(const store::Catalogue& catalogue,
                                                  const Watermark& mark, const std::string& since) {
    const std::string late = earlier(mark.through, LATE_LINE_SECONDS);
    std::vector<const store::CatalogueLine*> lines;
    for (const store::CatalogueLine& line : catalogue.lines)
        if (line.filed >= since && line.filed >= late &&
            (line.filed > mark.through || !mark.seen.contains(line_key(line.text))))
            lines.push_back(&line);
    return lines;
}

// `mark` moved past `announced`: its newest filing time, and the keys of every line filed near it.
void advance(Watermark& mark, const store::Catalogue& catalogue,
             const std::vector<const store::CatalogueLine*>& announced) {
    for (const store::CatalogueLine* line : announced)
        mark.through = std::max(mark.through, std::string(line->filed));
    const std::string late = earlier(mark.through, LATE_LINE_SECONDS);
    std::set<std::string> seen;
    for (const store::CatalogueLine& line : catalogue.lines)
        if (line.filed >= late && line.filed <= mark.through) seen.insert(line_key(line.text));
    mark.seen = std::move(seen);
}

std::string with_query(const std::string& url, const std::string& query) {
    return url + (url.find('?') == std::string::npos ? '?' : '&') + query;
}

}  // namespace

std::string news_message(const std::string& to, const std::string& console_url, std::size_t count,
                         bool daily, const std::string& since) {
    const std::string counted =
        std::to_string(count) + (count == 1 ? " new application" : " new applications");
    std::string text = "To: " + to + "\nSubject: " + (daily ? "Daily digest: " : "") + counted +
                       "\nAuto-Submitted: auto-generated\nMIME-Version: 1.0\n"
                       "Content-Type: text/plain; charset=utf-8\n\n";
    text += counted + (count == 1 ? " has" : " have") + " arrived since " + since + ".\n\n";
    text += "Open the staff console to read them:\n" + console_url + "\n\n";
    text += "You get this mail because you asked for it (" +
            std::string(daily ? "a daily digest" : "a mail when applications arrive") +
            "). Change or stop it here:\n" + with_query(console_url, "view=news") + "\n";
    return text;
}

DrainResult drain_news(const store::ApplicantStore& store, const NewsSettings& settings,
                       std::time_t now) {
    DrainResult result;
    const NewsFiles& files = settings.files;
    const NewsLock lock(files, -1);
    if (!lock.held()) {
        result.error = "cannot take the lock " + files.lock();
        ++result.failed;
        return result;
    }
    std::vector<Subscription> subscriptions;
    NewsState state;
    bool exists = false;
    if (!read_subscriptions(files, subscriptions, result.error) ||
        !read_state(files, state, exists, result.error)) {
        ++result.failed;
        return result;
    }
    const std::string now_text = store::utc_text(now);
    auto record_failure = [&](const std::string& why) {
        ++result.failed;
        result.error = why;
        state.last_failure = now_text;
        state.failure = why;
        state.failing = true;
        std::string ignored;
        write_state(files, state, ignored);
    };
    // A first run says that the sender is set up, even with nobody subscribed yet.
    if (!exists && !write_state(files, state, result.error)) {
        ++result.failed;
        return result;
    }
    // Who stopped her subscription starts afresh if she subscribes again.
    const std::size_t marks = state.staff.size();
    std::erase_if(state.staff, [&](const auto& entry) {
        return std::none_of(subscriptions.begin(), subscriptions.end(),
                            [&](const Subscription& s) { return s.user == entry.first; });
    });
    if (state.staff.size() != marks && !write_state(files, state, result.error)) ++result.failed;
    if (subscriptions.empty()) return result;
    const store::Catalogue catalogue = store::read_catalogue(store);
    for (const Subscription& s : subscriptions) {
        Watermark& mark = state.staff[s.user];
        const bool daily = s.cadence == Cadence::daily;
        const std::string last = std::max(mark.last_mail, s.since);
        if (daily && now - parse_utc(last) < DIGEST_SECONDS) continue;
        const auto lines = news_for(catalogue, mark, s.since);
        if (lines.empty()) {
            // A day without news ends without a mail; the next digest counts from here.
            if (daily) {
                mark.last_mail = now_text;
                std::string ignored;
                write_state(files, state, ignored);
            }
            continue;
        }
        if (settings.console_url.empty()) {
            record_failure("no console address: set APPLY_CONSOLE_URL (an http:// or https:// address)");
            continue;
        }
        std::string why;
        if (!send_mail(settings.sendmail, s.address,
                       news_message(s.address, settings.console_url, lines.size(), daily, last),
                       settings.send_timeout_seconds, why)) {
            record_failure(why);
            continue;
        }
        advance(mark, catalogue, lines);
        mark.last_mail = state.last_sent = now_text;
        state.failing = false;
        ++result.sent;
        std::string error;
        if (!write_state(files, state, error))
            record_failure(error + " (a mail went: it may go again)");
    }
    return result;
}

}  // namespace news

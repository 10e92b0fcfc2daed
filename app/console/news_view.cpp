// The staff console's news of new applications: each staff member's own subscription (her
// address, and a mail per batch of new applications or a daily digest) on ?view=news, set by a
// POST with the console's form token; and the sender's state in the figures.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/console/console.h"
#include "app/console/form_token.h"
#include "app/store/news_state.h"
#include "app/store/news_subscriptions.h"

namespace {

news::NewsFiles news_files() {
    return {news::news_dir(env("APPLY_AUDIT_LOG"))};
}

// Bound to the user and the store only: the form changes nothing of an applicant.
TokenSubject news_subject(const Console& c) {
    return {c.user, c.store.store_root(), "news", "", "", ""};
}

void radio(const char* value, const char* label, bool checked) {
    std::printf("<label><input type=\"radio\" name=\"cadence\" value=\"%s\"%s> %s</label><br>",
                value, checked ? " checked" : "", label);
}

}  // namespace

void show_news(Console& c) {
    const news::NewsFiles files = news_files();
    std::vector<news::Subscription> all;
    std::string error;
    const bool readable = !files.dir.empty() && news::read_subscriptions(files, all, error);
    const news::Subscription* mine = nullptr;
    for (const news::Subscription& s : all)
        if (s.user == c.user) mine = &s;
    begin_console_page(c, "News of new applications");
    std::printf(
        "<p>A mail says how many applications arrived and links this console; it never "
        "names an applicant.</p>\n<p>");
    if (files.dir.empty())
        html("News mail is off here: no audit log or APPLY_NEWS_DIR is set.");
    else if (!readable)
        html(error);
    else if (!mine)
        html("You get no news mail.");
    else
        html(std::string("You get ") +
             (mine->cadence == news::Cadence::daily ? "a daily digest"
                                                    : "a mail when applications arrive") +
             " at " + mine->address + ".");
    std::printf("</p>\n<p class=\"muted\">News mail: ");
    html(news::news_status(files));
    std::printf("</p>\n");
    if (readable && !c.secret.empty()) {
        std::printf(
            "<form method=\"post\" action=\"staff.cgi\"><input type=\"hidden\" name=\"root\" "
            "value=\"");
        html(c.store.store_root());
        std::printf(
            "\"><input type=\"hidden\" name=\"action\" value=\"news\">"
            "<input type=\"hidden\" name=\"token\" value=\"%s\">",
            form_token(c.secret, news_subject(c), std::time(nullptr) + TOKEN_LIFETIME_SECONDS)
                .c_str());
        std::printf(
            "<p><label for=\"address\">Your mail address</label><br>"
            "<input id=\"address\" name=\"address\" type=\"email\" size=\"40\" value=\"");
        html(mine ? mine->address : "");
        std::printf("\"></p><fieldset><legend>Send me</legend>");
        const bool daily = mine && mine->cadence == news::Cadence::daily;
        radio("each", "a mail when applications arrive", !mine || !daily);
        radio("daily", "a daily digest", daily);
        radio("off", "no news mail", false);
        std::printf("</fieldset><p><button>Save</button></p></form>\n");
    }
    end_console_page();
}

void do_news(Console& c) {
    if (!form_is_allowed(c, news_subject(c))) return;
    const news::NewsFiles files = news_files();
    news::Subscription s{c.user, c.value("address"), news::Cadence::each,
                         store::utc_text(std::time(nullptr))};
    const std::string cadence = c.value("cadence");
    const bool off = cadence == "off";
    std::string error;
    if (files.dir.empty())
        error = "News mail is off here: no audit log or APPLY_NEWS_DIR is set.";
    else if (!off && !news::parse_cadence(cadence, s.cadence))
        error = "Choose what to send.";
    else if (!off && !news::valid_mail_address(s.address))
        error = "That is not a mail address this console sends to (one address, name@domain).";
    if (!error.empty()) {
        message_page(&c, "400 Bad Request", "Not saved", error);
        return;
    }
    if (!news::save_subscription(files, s, off, error)) {
        message_page(&c, "503 Service Unavailable", "Not saved", error);
        return;
    }
    message_page(&c, nullptr, "Saved",
                 off ? "You get no news mail." : "News mail goes to " + s.address + ".");
}

void show_news_figure() {
    std::printf("<dt>News mail</dt><dd>");
    html(news::news_status(news_files()));
    std::printf("</dd>");
}

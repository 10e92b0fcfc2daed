// apply-admin news [--status].
#include "app/admin/news_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/shared/time_stamp.h"
#include "app/store/audit_log.h"
#include "app/store/news_drain.h"
#include "app/store/news_mail.h"
#include "app/store/news_state.h"

namespace admin {

namespace {

bool plain_web_address(std::string_view url) {
    return (url.starts_with("https://") || url.starts_with("http://")) && url.size() <= 2000 &&
           std::all_of(url.begin(), url.end(), [](char ch) { return ch > ' ' && ch < 127; });
}

}  // namespace

int run_news_command(const store::ApplicantStore& store, const std::vector<std::string>& words,
                     const std::string& audit_log) {
    if (words.empty() || words[0] != "news" || words.size() > 2 ||
        (words.size() == 2 && words[1] != "--status"))
        return -1;
    news::NewsSettings settings;
    settings.files.dir = news::news_dir(audit_log);
    if (words.size() == 2) {
        std::printf("news mail: %s\n", news::news_status(settings.files).c_str());
        return 0;
    }
    if (settings.files.dir.empty()) {
        std::fprintf(stderr, "%s apply-admin: news is off: set APPLY_NEWS_DIR or APPLY_AUDIT_LOG\n",
                     monitor::iso_now().c_str());
        return 1;
    }
    settings.sendmail = news::sendmail_path();
    // An address that is not one plain http(s) address is none: it would go into the mail as it is.
    if (const char* url = std::getenv("APPLY_CONSOLE_URL"); url && plain_web_address(url))
        settings.console_url = url;
    const news::DrainResult result = news::drain_news(store, settings, store::lifecycle_now());
    std::printf("news: %d sent, %d failed\n", result.sent, result.failed);
    if (result.failed)
        std::fprintf(stderr, "%s apply-admin: news mail: %s\n", monitor::iso_now().c_str(),
                     result.error.c_str());
    return result.failed ? 1 : 0;
}

}  // namespace admin

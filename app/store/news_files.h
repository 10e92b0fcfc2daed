// Where news of new applications keeps its files, and the lock around them: the staff's
// subscriptions (written by the console), the sender's state (written by `apply-admin news`) and
// the lock file both take before they read and replace either.
#pragma once

#include <string>

#include "platform/files.h"

namespace news {

// The folder of the news files: APPLY_NEWS_DIR, else the folder of the audit log `audit_log`;
// "" when neither is set (news is off then).
std::string news_dir(const std::string& audit_log);

struct NewsFiles {
    std::string dir;
    std::string subscriptions() const { return dir + "/news-subscriptions.json"; }
    std::string state() const { return dir + "/news-state.json"; }
    std::string lock() const { return dir + "/news.lock"; }
};

// The news lock, held from construction until destruction. With `wait_seconds` < 0 it waits as
// long as it takes; otherwise it gives up after that many seconds (held() says which).
class NewsLock {
  public:
    NewsLock(const NewsFiles& files, int wait_seconds);
    bool held() const { return held_; }

  private:
    platform::UniqueFd fd_;
    bool held_ = false;
};

// Replaces `path` with `text` through a file staged beside it, flushed, renamed, the folder
// flushed after: a reader sees the old file or the new one, and a crash leaves one of them.
bool replace_file(const std::string& path, const std::string& text, std::string& error);
// Reads the whole file at `path` into `text`; false when it is missing (`missing` set) or
// cannot be read.
bool read_whole_file(const std::string& path, std::string& text, bool& missing);

}  // namespace news

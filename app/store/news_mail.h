// Hands one mail to the machine's mail system through its sendmail command.
#pragma once

#include <string>

namespace news {

// The sendmail command: APPLY_SENDMAIL, else /usr/sbin/sendmail.
std::string sendmail_path();

// Runs `sendmail -i <to>` with `message` (headers and body, "\n" line ends) on its standard
// input, and waits at most `timeout_seconds` for it; true when it took the mail (exit 0).
// Otherwise `error` says why: it could not be run, it ran too long (then it is killed), or it
// exited with a status, followed by the first line it wrote.
bool send_mail(const std::string& sendmail, const std::string& to, const std::string& message,
               int timeout_seconds, std::string& error);

}  // namespace news

// Per-form tokens of the staff console: an HMAC over the staff user, what the form does, the
// applicant and the submissions it was shown for, and when it expires, keyed with a secret kept
// outside the site, so that a page elsewhere cannot forge a form and an old form cannot act on
// what has changed since (a new submission, or another applicant who took the name later).
#pragma once

#include <ctime>
#include <optional>
#include <string>

// How long a form stays good.
inline constexpr std::time_t TOKEN_LIFETIME_SECONDS = 24 * 60 * 60;

// The secret in the file at `path` (made with 32 random bytes, mode 0600, when missing);
// nothing when it can be neither read nor made.
std::optional<std::string> console_secret(const std::string& path);

// What a token is bound to.
struct TokenSubject {
    std::string user, root, action;
    std::string folder, person_id;
    std::string newest_filed;  // the filing time of the applicant's newest submission
};

// The token for `subject`, good until `expires` (seconds since 1970): "<expires>.<64 hex digits>".
std::string form_token(const std::string& secret, const TokenSubject& subject, std::time_t expires);

// True when `token` is the one form_token gives for the same subject and has not expired at
// `now` (the MAC compared in constant time).
bool token_matches(const std::string& token, const std::string& secret, const TokenSubject& subject,
                   std::time_t now);

// Per-form tokens of the staff console: an HMAC over the staff user and what the form does,
// keyed with a secret kept outside the site, so that a page elsewhere cannot forge a form.
#pragma once

#include <optional>
#include <string>

// The secret in the file at `path` (made with 32 random bytes, mode 0600, when missing);
// nothing when it can be neither read nor made.
std::optional<std::string> console_secret(const std::string& path);

// The token for `user` doing `action` on `applicant` in store root `root`: 64 hex digits.
std::string form_token(const std::string& secret, const std::string& user, const std::string& root,
                       const std::string& action, const std::string& applicant);

// True when `token` is the one form_token gives for the same inputs (compared in constant time).
bool token_matches(const std::string& token, const std::string& secret, const std::string& user,
                   const std::string& root, const std::string& action,
                   const std::string& applicant);

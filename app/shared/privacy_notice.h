// The operator's privacy notice: the page that tells applicants what happens to the data they
// send. The form links it; the staff console's figures warn while it is not set.
#pragma once

// The setting that holds the notice's address (in the server's environment, as every APPLY_*).
inline constexpr char PRIVACY_NOTICE_VARIABLE[] = "APPLY_PRIVACY_NOTICE";

// The notice's address: an http:// or https:// URL, or a path on this site beginning with one
// "/". Null when the setting is unset, empty or anything else (no other scheme is ever linked).
const char* privacy_notice_address();

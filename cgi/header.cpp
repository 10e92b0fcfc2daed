// The response header: the cookie lines with their attributes, the content-type line and the empty
// line.
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "cgi/cgi_request.h"
#include "trace/trace_channels.h"

namespace {

constexpr const char* DAY_NAMES[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int EXPIRY_YEARS_AHEAD = 500;
constexpr std::int64_t SECONDS_PER_DAY = 86400;

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Proleptic Gregorian calendar by day count from 1970-01-01, valid for every 64-bit day count a
// time_t can give (the C library's calendar functions stop at narrower years on some systems).
CivilDate civil_from_days(std::int64_t days) {
    days += 719468;  // count from 0000-03-01, so that the leap day ends each 400-year era
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_from_march = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    const unsigned month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2);
    return {year, month, day};
}

std::int64_t days_from_civil(const CivilDate& date) {
    const std::int64_t year = date.year - (date.month <= 2);
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned month_from_march = date.month > 2 ? date.month - 3 : date.month + 9;
    const unsigned day_of_year = (153 * month_from_march + 2) / 5 + date.day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

// 0 = Sunday; 1970-01-01 was a Thursday.
unsigned weekday_from_days(std::int64_t days) {
    const std::int64_t weekday = (days + 4) % 7;
    return static_cast<unsigned>(weekday < 0 ? weekday + 7 : weekday);
}

}  // namespace

void CgiRequest::default_expiry(std::time_t now, char* out, std::size_t capacity) {
    const std::int64_t seconds = now;
    std::int64_t days = seconds / SECONDS_PER_DAY;
    if (seconds % SECONDS_PER_DAY < 0) --days;  // round towards the earlier midnight

    CivilDate expiry = civil_from_days(days);
    expiry.year += EXPIRY_YEARS_AHEAD;
    // The weekday belongs to the date written, not to today. A 29 February whose year 500 years
    // on is not a leap year counts as the day after 28 February.
    const unsigned weekday = weekday_from_days(days_from_civil(expiry));
    std::snprintf(out, capacity, "%s, %02u-%s-%04" PRId64 " 00:00:00 GMT", DAY_NAMES[weekday],
                  expiry.day, MONTH_NAMES[expiry.month - 1], expiry.year);
}

namespace {
const char* same_site_text(SameSite same_site) {
    switch (same_site) {
        case SameSite::strict:
            return "Strict";
        case SameSite::lax:
            return "Lax";
        case SameSite::none:
            return "None";
        case SameSite::unset:
            break;
    }
    return nullptr;
}
}  // namespace

// One Set-Cookie line per cookie: a browser reads a line as one cookie, so a list joined by
// commas would set only its first.
void CgiRequest::print_cookies() {
    char default_expires[EXPIRY_TEXT_SIZE] = "";
    if (!cookies.empty() && cookie_expires.empty())
        default_expiry(std::time(nullptr), default_expires, sizeof default_expires);
    const char* expires = cookie_expires.empty() ? default_expires : cookie_expires.c_str();
    for (const ResponseCookie& cookie : cookies) {
        std::printf("Set-Cookie: %s", cookie.pair.c_str());
        cgi_trace.log("Set-cookie: %s", cookie.pair.c_str());
        std::printf("; expires=%s", expires);
        cgi_trace.log("; expires=%s", expires);
        if (cookie.domain) {
            std::printf("; domain=%s", cookie.domain->c_str());
            cgi_trace.log("; domain=%s", cookie.domain->c_str());
        }
        if (cookie.path) {
            std::printf("; path=%s", cookie.path->c_str());
            cgi_trace.log("; path=%s", cookie.path->c_str());
        }
        if (cookie.secure) {
            std::printf("; secure");
            cgi_trace.log("; secure");
        }
        if (cookie.http_only) std::printf("; HttpOnly");
        if (const char* same_site = same_site_text(cookie.same_site))
            std::printf("; SameSite=%s", same_site);
        std::printf("%c", 10);
        cgi_trace.log("\n");
    }
    header_sent = true;
}

void CgiRequest::print_header() {
    print_cookies();
    std::printf("Content-type: text/html%c%c", 10, 10);
    header_sent = true;
}

void CgiRequest::print_gif_header() {
    print_cookies();
    std::printf("Content-type: image/gif%c%c", 10, 10);
    header_sent = true;
}

// The response header: the cookie lines with their attributes, the content-type line and the empty
// line.
#include <strings.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "cgi/cgi_request.h"
#include "cgi/percent_escape.h"

namespace cgi {

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

// The reason phrase that usually goes with a status code, or null.
const char* usual_reason(int code) {
    static constexpr struct {
        int code;
        const char* reason;
    } kReasons[] = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {500, "Internal Server Error"},
        {503, "Service Unavailable"},
    };
    for (const auto& known : kReasons) {
        if (known.code == code) return known.reason;
    }
    return nullptr;
}

// A text that can stand in a header line: no CR, LF or other control byte, which would end the
// line early and let what follows pass for a header line of its own.
bool is_line_safe(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (detail::is_control_byte(static_cast<unsigned char>(*p))) return false;
    }
    return true;
}

// A media type or charset: a line-safe text without ';' or spaces, which would add parameters.
bool is_type_safe(const char* text) {
    return *text && is_line_safe(text) && !std::strpbrk(text, "; ");
}

// An HTTP field name: one or more token characters (RFC 9110).
bool is_token(const char* text) {
    if (!*text) return false;
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"(),/:;<=>?@[\\]{}", c)) return false;
    }
    return true;
}

}  // namespace

bool CgiRequest::set_status(int code, const char* reason) {
    if (header_sent_ || code < 100 || code > 999) return false;
    if (!reason) reason = usual_reason(code);
    if (reason && !is_line_safe(reason)) return false;
    status_line = std::to_string(code);
    if (reason && *reason) status_line.append(" ").append(reason);
    return true;
}

bool CgiRequest::redirect(const char* location, int code) {
    if (header_sent_ || !location || !*location || !is_line_safe(location) ||
        std::strchr(location, ' ') || code < 300 || code > 399)
        return false;
    if (!set_status(code)) return false;
    extra_lines.push_back(std::string("Location: ") + location);
    return true;
}

bool CgiRequest::set_content_type(const char* media_type, const char* charset) {
    if (header_sent_ || !media_type || !is_type_safe(media_type) ||
        (charset && !is_type_safe(charset)))
        return false;
    content_type_line = media_type;
    if (charset) content_type_line.append("; charset=").append(charset);
    return true;
}

bool CgiRequest::add_header(const char* name, const char* value) {
    if (header_sent_ || !name || !value || !is_token(name) || !is_line_safe(value)) return false;
    for (const char* own : {"Status", "Location", "Content-Type", "Set-Cookie"}) {
        if (strcasecmp(name, own) == 0) return false;
    }
    extra_lines.push_back(std::string(name) + ": " + value);
    return true;
}

// One Set-Cookie line per cookie: a browser reads a line as one cookie, so a list joined by
// commas would set only its first.
void CgiRequest::print_cookies() {
    if (cookies.empty()) return;
    char far_future[EXPIRY_TEXT_SIZE] = "";
    default_expiry(std::time(nullptr), far_future, sizeof far_future);
    for (const ResponseCookie& cookie : cookies) {
        print("Set-Cookie: %s", cookie.pair.c_str());
        if (cookie.deleted) {
            print("; expires=Thu, 01-Jan-1970 00:00:00 GMT");
        } else if (cookie.expiry == Expiry::far_future) {
            print("; expires=%s", far_future);
        }
        if (cookie.max_age) print("; Max-Age=%lld", *cookie.max_age);
        if (cookie.domain) print("; domain=%s", cookie.domain->c_str());
        if (cookie.path) print("; path=%s", cookie.path->c_str());
        if (cookie.secure) print("; secure");
        if (cookie.http_only) print("; HttpOnly");
        if (const char* same_site = same_site_text(cookie.same_site))
            print("; SameSite=%s", same_site);
        print("%c", 10);
    }
}

// Status first (a server reads it wherever it stands, people read it first), then the other
// lines, the cookies and the content type; every line ends in the byte 10.
void CgiRequest::print_header_with(const char* media_type) {
    if (!status_line.empty()) print("Status: %s\n", status_line.c_str());
    for (const std::string& line : extra_lines) print("%s\n", line.c_str());
    print_cookies();
    print("Content-type: %s%c%c", media_type, 10, 10);
    header_sent_ = true;
}

void CgiRequest::print_header() {
    print_header_with(content_type_line.c_str());
}

void CgiRequest::print_gif_header() {
    print_header_with("image/gif");
}

}  // namespace cgi

// The staff console's page frame: header with its content policy, head, navigation, stylesheet.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/console/console.h"
#include "cgi/html_escape.h"

namespace {

// No script at all, nothing from elsewhere, never inside a frame; forms post only to the console.
constexpr char CONTENT_POLICY[] =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'";

constexpr char STYLESHEET[] = R"css(body { font: 15px/1.45 system-ui, sans-serif; margin: 0; color: #222; background: #faf7f3; }
header { background: #4a3b2c; color: #fff; padding: .6em 1.5em; display: flex; gap: 1.5em; align-items: baseline; flex-wrap: wrap; }
header a { color: #fff; } header h1 { font-size: 1.2em; margin: 0; } header .user { margin-left: auto; opacity: .8; }
main { max-width: 1200px; margin: 1.2em auto; padding: 0 1.5em; }
table { border-collapse: collapse; width: 100%; background: #fff; }
th, td { text-align: left; padding: .45em .7em; border-bottom: 1px solid #e4ddd4; vertical-align: top; }
th { background: #efe7dc; } th a { color: inherit; }
td.count, th.count { text-align: right; } tr:hover td { background: #fbf4ea; }
form.search { margin: 0 0 1em; display: flex; gap: .5em; } form.search input[type=search] { flex: 1; max-width: 28em; padding: .35em; }
.pages { margin: 1em 0; display: flex; gap: 1em; } .muted { color: #665; }
.submission { background: #fff; border: 1px solid #e4ddd4; padding: .8em 1.2em; margin: 0 0 1em; }
.submission h3 { margin: 0 0 .4em; font-size: 1em; } .interest { white-space: pre-wrap; }
dl.figures { display: grid; grid-template-columns: max-content auto; gap: .3em 1.5em; }
dl.figures dt { font-weight: 600; } .actions { display: flex; flex-wrap: wrap; gap: .6em 1em; margin: 1em 0; align-items: baseline; }
td, dd, .submission { overflow-wrap: anywhere; }
form.filters { display: flex; flex-wrap: wrap; gap: .5em 1em; align-items: end; margin: 0 0 1em; }
form.filters label { display: flex; flex-direction: column; font-size: .9em; } form.filters input { padding: .3em; }
.actions input[name=reference] { padding: .3em; width: 12em; max-width: 100%; }
button { padding: .4em 1em; } button.danger { background: #a32; color: #fff; border: 0; }
.notice { background: #fff3cd; border: 1px solid #e6d28a; padding: .6em 1em; }
.history { background: #fff; border: 1px solid #e4ddd4; padding: .8em 1.2em; margin: 0 0 1em; }
.history h3 { margin: .4em 0; font-size: 1em; } form.inline { margin: .4em 0; }
ul.notes { list-style: none; padding: 0; } ul.notes li { border-top: 1px solid #e4ddd4; padding: .4em 0; }
.note { white-space: pre-wrap; } textarea { max-width: 100%; }
form.selection { margin: 0 0 .6em; } .duplicates { background: #fff; border: 1px solid #e4ddd4; padding: .2em 1.2em; margin: 0 0 1em; }
@media (max-width: 40em) {
  header { padding: .6em 1em; gap: .3em 1em; } header .user { margin-left: 0; } main { padding: 0 .8em; }
  table.rows, table.rows tbody, table.rows tr, table.rows td { display: block; }
  table.rows thead tr { display: flex; flex-wrap: wrap; gap: 0 1em; } table.rows thead th { padding: .3em .7em; border: 0; }
  table.audit thead { position: absolute; width: 1px; height: 1px; overflow: hidden; clip-path: inset(50%); }
  table.rows tr { border-bottom: 1px solid #e4ddd4; padding: .4em 0; }
  table.rows td { border: 0; padding: .1em .7em; } table.rows td.count { text-align: left; }
  table.rows td::before { content: attr(data-label) ": "; font-weight: 600; }
  dl.figures { grid-template-columns: auto; } dl.figures dd { margin: 0 0 .5em; }
  form.search { flex-wrap: wrap; } form.search input[type=search] { min-width: 0; flex-basis: 100%; }
  form.search select { min-width: 0; max-width: 100%; }
}
)css";

}  // namespace

std::string Console::value(const char* name) {
    const char* v = request.get_value(name);
    return v ? v : "";
}

void print_console_header(cgi::CgiRequest& request, const char* status) {
    if (status) request.set_status(std::atoi(status), std::strchr(status, ' ') + 1);
    request.set_content_type("text/html", "utf-8");
    request.add_header("Content-Security-Policy", CONTENT_POLICY);
    request.add_header("X-Content-Type-Options", "nosniff");
    request.add_header("Referrer-Policy", "same-origin");
    request.add_header("Cache-Control", "no-store");
    request.print_header();
}

void html(std::string_view text) {
    cgi::write_html(stdout, std::string(text).c_str());
}

std::string query_escape(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
            ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += digits[ch >> 4];
            out += digits[ch & 15];
        }
    }
    return out;
}

std::string console_link(const Console& c, const std::string& query) {
    return "staff.cgi?root=" + query_escape(c.store.store_root()) + (query.empty() ? "" : "&" + query);
}

void begin_console_page(Console& c, const std::string& title) {
    print_console_header(c.request);
    std::printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
    html(title);
    std::printf(" - staff console</title>\n<link rel=\"stylesheet\" href=\"staff.cgi?view=style\">\n"
                "</head>\n<body>\n<header><h1>Applications</h1>\n");
    std::printf("<a href=\"");
    html(console_link(c, ""));
    std::printf("\">Applicants</a> <a href=\"");
    html(console_link(c, "view=figures"));
    std::printf("\">Figures</a> <a href=\"");
    html(console_link(c, "view=audit"));
    std::printf("\">Audit log</a> <a href=\"");
    html(console_link(c, "view=news"));
    std::printf("\">News mail</a> <span>Store: ");
    html(c.store.store_root());
    std::printf("</span> <span class=\"user\">Signed in as ");
    html(c.user);
    std::printf("</span></header>\n<main>\n<h2>");
    html(title);
    std::printf("</h2>\n");
}

void end_console_page() {
    std::printf("</main>\n</body>\n</html>\n");
    std::fflush(stdout);
}

namespace {

void message_page_for(cgi::CgiRequest& request, const Console* c, const char* status,
                      const std::string& heading, const std::string& message) {
    print_console_header(request, status);
    std::printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>");
    html(heading);
    std::printf("</title>\n<link rel=\"stylesheet\" href=\"staff.cgi?view=style\">\n</head>\n"
                "<body>\n<header><h1>Applications</h1></header>\n<main>\n<h2>");
    html(heading);
    std::printf("</h2>\n<p>");
    html(message);
    std::printf("</p>\n");
    if (c) {
        std::printf("<p><a href=\"");
        html(console_link(*c, ""));
        std::printf("\">Back to the applicants</a></p>\n");
    }
    end_console_page();
}

}  // namespace

void message_page(Console* c, const char* status, const std::string& heading,
                  const std::string& message) {
    message_page_for(c->request, c, status, heading, message);
}

void message_page(cgi::CgiRequest& request, const char* status, const std::string& heading,
                  const std::string& message) {
    message_page_for(request, nullptr, status, heading, message);
}

void link(const std::string& href, const std::string& text) {
    std::printf("<a href=\"");
    html(href);
    std::printf("\">");
    html(text);
    std::printf("</a>");
}

void redirect_after_post(Console& c, const std::string& target, const char* back) {
    c.request.redirect(target.c_str(), 303);
    print_console_header(c.request);
    std::printf("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Recorded</title>"
                "</head><body><p><a href=\"");
    html(target);
    std::printf("\">%s</a></p></body></html>\n", back);
    std::fflush(stdout);
}

void print_stylesheet(cgi::CgiRequest& request) {
    request.set_content_type("text/css", "utf-8");
    request.add_header("Cache-Control", "max-age=3600");
    request.print_header();
    std::fputs(STYLESHEET, stdout);
    std::fflush(stdout);
}

std::optional<store::Applicant> requested_applicant(Console& c) {
    const store::ApplicantRef ref = c.requested();
    // A link without the person names the folder's only applicant (the links of older pages).
    std::string ambiguous;
    auto applicant = ref.person_id.empty() ? store::find_applicant(c.store, ref.folder, "", ambiguous)
                                           : store::find_applicant(c.store, ref);
    if (!applicant)
        message_page(&c, "404 Not Found", "No such applicant",
                     "No applicant is filed as " + ref.folder + " (she may have been erased).");
    return applicant;
}

std::string applicant_query(const store::ApplicantRef& ref) {
    return "a=" + query_escape(ref.folder) + "&p=" + query_escape(ref.person_id);
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

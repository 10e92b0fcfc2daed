// Calls everything the installed headers declare, so that this program links only when the
// library exports all of it. Run as a CGI program it answers "linked"; the calls themselves are
// made only with 42 arguments, which no test gives.
#include <vocanta_cgi/cgi/cgi_limits.h>
#include <vocanta_cgi/cgi/cgi_request.h>
#include <vocanta_cgi/cgi/html_escape.h>
#include <vocanta_cgi/cgi/serve.h>
#include <vocanta_cgi/cgi/version.h>
#include <vocanta_cgi/trace/trace_channels.h>
#include <vocanta_cgi/trace/trace_log.h>

#include <cstdio>
#include <utility>

namespace {

void call_everything(cgi::CgiRequest& r, char* buffer, std::size_t size) {
    using cgi::CgiRequest;
    std::int32_t length = 0;
    r.get_env(cgi::CgiEnv::HTTP_HOST), r.get_env(3), r.query_value("q"), r.raw_body();
    r.boundary(), r.boundary_len(), r.spool_uploads_in("."), r.collect_pairs();
    cgi::FormPair* pair = r.find_value("a");
    pair = r.pair_at(0);
    pair->bytes(), pair->first_byte(), pair->file();
    r.get_value("a"), r.get_file("a", &length, buffer, size, buffer, size);
    r.upload_descriptor("a"), r.next_pair(buffer, size, buffer, size);
    CgiRequest::hex_pair_value("41"), CgiRequest::url_decode(buffer);
    CgiRequest::plus_to_space(buffer), CgiRequest::space_to_plus(buffer);
    CgiRequest::hex_high(1), CgiRequest::hex_low(1), CgiRequest::index_of(buffer, 'a');
    CgiRequest::escape_percent(buffer, size), CgiRequest::escape_backslash(buffer, size);
    CgiRequest::find_text(buffer, 1, "a"), CgiRequest::default_expiry(0, buffer, size);
    r.set_status(200), r.redirect("/"), r.set_content_type("text/plain"), r.add_header("X", "1");
    r.SetCookie("a", "1"), r.SetCookie("a", "1", nullptr, nullptr, false);
    r.SetCookie("a", "1", cgi::CookieOptions{}), r.delete_cookie("a"), r.cookie("a");
    r.get_cookie("a", buffer, size);
    r.print_header(), r.print_gif_header(), r.write("x", 1), r.print("%d", 1);
    r.write_html("<"), r.write_link("a b"), r.flush();
    r.begin_html(), r.print_title("t"), r.print_refresh(1, "/"), r.print_keywords("k");
    r.begin_body(""), r.page_printf("%d", 1), r.end_page();
    cgi::write_html(stdout, "<"), cgi::html_escape_to(buffer, size, "<");
    cgi::link_target_to(buffer, size, "a"), cgi::write_link(stdout, "a");
    cgi::RequestOptions::as_designed(), cgi::version(), cgi::started_by_fastcgi();
    cgi::TraceLog log("every"), other(cgi::TraceLog::without_file());
    log.log("%d", 1), log.log_timed("%d", 1), log.is_open(), log.path();
    cgi::TraceLog::file_name_for(buffer, size, "t", 1);
    cgi::TraceLog ticked("every", [] { return std::uint32_t{0}; }), untagged;
    cgi::FormPair empty, moved(std::move(empty));
    moved = cgi::FormPair();
    cgi::cgi_trace.log("%d", 1);
    r.fatal_printf("%d", 1);
}

int answer(cgi::CgiRequest& request) {
    request.set_content_type("text/plain");
    request.print_header();
    request.print("linked %s\n", cgi::version());
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 42) {
        char buffer[cgi::SCRATCH_SIZE];
        cgi::CgiRequest request(argc, argv);
        call_everything(request, buffer, sizeof buffer);
        cgi::cgi_exit(0);
    }
    return cgi::serve(argc, argv, answer);
}

// Origins compared by scheme, host (without case) and port.
#include "app/console/request_origin.h"

#include <algorithm>
#include <cstdlib>

namespace {

unsigned default_port(const std::string& scheme) {
    return scheme == "https" ? 443 : scheme == "http" ? 80 : 0;
}

// "host", "host:port" or "[v6]:port" into the origin's host and port; false when malformed.
bool split_host(const std::string& text, Origin& o) {
    std::size_t colon = text.rfind(':');
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos) return false;
        colon = close + 1 < text.size() && text[close + 1] == ':' ? close + 1 : std::string::npos;
        if (colon == std::string::npos && close + 1 != text.size()) return false;
    }
    o.host = text.substr(0, colon);
    if (o.host.empty()) return false;
    std::transform(o.host.begin(), o.host.end(), o.host.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    if (colon == std::string::npos) {
        o.port = default_port(o.scheme);
        return o.port != 0;
    }
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    o.port = static_cast<unsigned>(std::atoi(port.c_str()));
    return o.port > 0 && o.port < 65536;
}

}  // namespace

Origin parse_origin(const std::string& text) {
    Origin o;
    const std::size_t sep = text.find("://");
    if (sep == std::string::npos) return {};
    o.scheme = text.substr(0, sep);
    if (o.scheme != "http" && o.scheme != "https") return {};
    const std::string rest = text.substr(sep + 3);
    if (rest.find_first_of("/?#@") != std::string::npos || !split_host(rest, o)) return {};
    return o;
}

Origin served_origin(const std::string& https, const std::string& host,
                     const std::string& server_port) {
    Origin o;
    o.scheme = https == "on" || https == "ON" || https == "1" ? "https" : "http";
    const bool has_port = !host.empty() && host.back() != ']' && host.find(':') != std::string::npos;
    if (!split_host(has_port || server_port.empty() ? host : host + ":" + server_port, o)) return {};
    return o;
}

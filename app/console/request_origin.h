// Whether a request's Origin is the console's own: scheme, host and port, as the server was
// reached (HTTPS, HTTP_HOST, SERVER_PORT).
#pragma once

#include <string>

// An origin's parts, the port made explicit ("https://Host" is https, host, 443).
struct Origin {
    std::string scheme, host;
    unsigned port = 0;
    bool operator==(const Origin&) const = default;
};

// The parts of an Origin header's value; nothing valid (port 0) for anything else, "null"
// included.
Origin parse_origin(const std::string& text);
// The origin the server was reached at: the scheme from `https` (the HTTPS variable, "on" or
// "1" for TLS), host and port from `host` (HTTP_HOST), else `server_port`.
Origin served_origin(const std::string& https, const std::string& host,
                     const std::string& server_port);

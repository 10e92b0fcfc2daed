// Example program, as a CGI or a FastCGI application: answers ?text=...&color=N with the text
// drawn as a GIF image.
// Colours: 0 black, 1 white (invisible: white is transparent), 2 orange-red, 3 blue, 4 green,
// 5 violet. Without a text the image is an empty 2 x 17 pixel picture.
#include <cstdlib>

#include "cgi/cgi_request.h"
#include "cgi/serve.h"

namespace {

int color_from(const char* text) {
    if (!text) return 0;
    char* end = nullptr;
    const long color = std::strtol(text, &end, 10);
    // Anything but a plain palette number draws in black.
    if (end == text || *end != '\0' || color < 0 || color > 5) return 0;
    return static_cast<int>(color);
}

int answer(cgi::CgiRequest& request) {
    const char* text = request.get_value("text");
    const int color = color_from(request.get_value("color"));

    // The image response: its own header, then the image and nothing else.
    request.print_gif_header();
    request.text_gif(text ? text : "", color);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return cgi::serve(argc, argv, answer);
}

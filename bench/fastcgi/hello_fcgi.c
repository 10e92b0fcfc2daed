/* The measured page on libfcgi alone: the FastCGI loop, the query's name found and escaped by
   hand, the same bytes as hello_ours. */
#include <fcgiapp.h>
#include <stdlib.h>
#include <string.h>

/* The value of name= in the query, %XX and '+' decoded, into out (cut to fit). */
static void name_from(const char* query, char* out, size_t size) {
    const char* at = query;
    size_t n = 0;
    out[0] = '\0';
    while (at && *at) {
        if (strncmp(at, "name=", 5) == 0) {
            for (at += 5; *at && *at != '&' && n + 1 < size; ++at) {
                if (*at == '+') {
                    out[n++] = ' ';
                } else if (*at == '%' && at[1] && at[2]) {
                    char hex[3] = {at[1], at[2], 0};
                    out[n++] = (char)strtol(hex, NULL, 16);
                    at += 2;
                } else {
                    out[n++] = *at;
                }
            }
            out[n] = '\0';
            return;
        }
        at = strchr(at, '&');
        if (at) ++at;
    }
    strcpy(out, "stranger");
}

static void put_html(const char* text, FCGX_Stream* out) {
    for (; *text; ++text) {
        switch (*text) {
            case '&': FCGX_PutS("&amp;", out); break;
            case '<': FCGX_PutS("&lt;", out); break;
            case '>': FCGX_PutS("&gt;", out); break;
            case '"': FCGX_PutS("&quot;", out); break;
            case '\'': FCGX_PutS("&#39;", out); break;
            default: FCGX_PutChar(*text, out);
        }
    }
}

int main(void) {
    FCGX_Request request;
    char name[1024];
    FCGX_Init();
    FCGX_InitRequest(&request, 0, 0);
    while (FCGX_Accept_r(&request) >= 0) {
        const char* query = FCGX_GetParam("QUERY_STRING", request.envp);
        name_from(query ? query : "", name, sizeof name);
        FCGX_PutS("Content-type: text/html\n\n<html>\n    <head>\n        <title>\n            Hello\n"
                  "        </title>\n    </head>\n    <body >\n<p>Hello, ", request.out);
        put_html(name, request.out);
        FCGX_PutS("!</p>\n    </body>\n</html>\n", request.out);
        FCGX_Finish_r(&request);
    }
    return 0;
}

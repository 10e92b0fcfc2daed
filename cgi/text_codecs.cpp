// placeholder: replaced by its implementation
#include "cgi/cgi_request.h"

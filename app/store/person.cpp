// The key that tells two applicants of one name apart.
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "app/store/applicant_store.h"

namespace store {

std::string person_key(std::string_view mail) {
    bool ascii = true;
    for (char c : mail) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::string key(mail);
    if (ascii) {
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key;
    }
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t n =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(key.data()),
                     static_cast<utf8proc_ssize_t>(key.size()), &folded,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                    UTF8PROC_CASEFOLD));
    // Mail that is not UTF-8 was refused at filing; a record that holds some anyway keys by its
    // bytes.
    if (n < 0) return key;
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(folded, &std::free);
    return std::string(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(n));
}

}  // namespace store

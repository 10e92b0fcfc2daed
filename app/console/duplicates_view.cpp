// Possible duplicates on an applicant's page: others with her e-mail address under another name,
// or with her name (any case or accents) and another address. Only shown: nothing is merged.
#include "app/console/console.h"
#include "app/store/possible_duplicates.h"

void show_possible_duplicates(Console& c, const store::Applicant& applicant) {
    const store::Catalogue catalogue = store::read_catalogue(c.store);
    const std::vector<store::ApplicantRow> rows = store::applicant_rows(catalogue);
    const auto found = store::duplicates_of(rows, applicant.folder_name, applicant.person);
    if (found.empty()) return;
    std::printf("<section class=\"duplicates\"><h3>Possible duplicates</h3>\n<ul>\n");
    for (const auto& [row, signs] : found) {
        const std::string folder(row->latest.folder);
        std::printf("<li><a href=\"");
        html(console_link(c, "view=applicant&" + applicant_query({folder, store::person_id(row->person)})));
        std::printf("\">");
        html(row->latest.name);
        std::printf("</a> (");
        html(row->latest.mail);
        std::printf("): %s</li>\n", signs.same_mail ? "the same e-mail address under another name"
                                                   : "the same name with another e-mail address");
    }
    std::printf("</ul>\n<p class=\"muted\">Shown only: each stays an applicant of her own.</p></section>\n");
}

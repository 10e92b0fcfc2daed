// apply-admin news: sends the news of new applications to the staff who asked for it.
#pragma once

#include <string>
#include <vector>

#include "app/store/applicant_store.h"

namespace admin {

// `news` (a drain: exit 0 when every mail due went, 1 otherwise) and `news --status`; -1 when
// `words` is neither.
int run_news_command(const store::ApplicantStore& store, const std::vector<std::string>& words,
                     const std::string& audit_log);

}  // namespace admin

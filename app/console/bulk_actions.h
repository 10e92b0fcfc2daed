// Actions on applicants selected in the table: the selection read from the form (every `sel`
// value, "<person id>/<folder>"), a confirmation page listing them, and a form token bound to the
// whole selection as it was shown, so that a selection changed since (another applicant in it,
// one left out, a new submission of one of them) is refused.
#pragma once

#include <string>
#include <vector>

#include "app/console/console.h"
#include "app/console/form_token.h"

// The most applicants one action takes.
inline constexpr std::size_t MOST_SELECTED = 200;

// The references the request selects, sorted and each once.
std::vector<store::ApplicantRef> selected_references(Console& c);

// What a token for `action` on these applicants is bound to: the user, the store root, the
// action and, in order, each one's folder, person id and newest filing time.
TokenSubject selection_subject(const Console& c, const std::string& action,
                               const std::vector<store::Applicant>& applicants);

// The hidden fields of a form that does `action` on `applicants`: root, action, every `sel`
// value and the selection's token.
void selection_fields(const Console& c, const std::string& action,
                      const std::vector<store::Applicant>& applicants);

// The checkbox that selects a table row; `label` names her for assistive technology.
void selection_checkbox(const store::ApplicantRef& ref, const std::string& label);

// What the table shows, carried through the selection form so that a bulk decision answers
// with the same table.
struct TableState {
    std::string query, decision, sort;
    bool due_only = false;
    long page = 1;
};
// The table's query for `state`, each value escaped, ending in "&" when not empty.
std::string table_query(const TableState& state);
// The selection bar above the table: what to do with the selected rows (erase behind a
// confirmation, or set a decision at once), with a token bound to the user, root and action.
void selection_bar(const Console& c, const TableState& state);
// The notice a bulk decision's redirect asks the table to show ("" when none).
std::string bulk_notice(Console& c);

// view=bulk (the table's form): the confirmation page of an erasure, or a decision set on every
// selected applicant still filed and answered with a redirect to the table.
void show_bulk_confirmation(Console& c);
// action=bulk-erase: every confirmed applicant erased under one hold of the store lock.
void do_bulk_erase(Console& c);

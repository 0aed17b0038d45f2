// Texts shown to the reader, marked for translation (GNU gettext). Wrap every new
// message in _("...") where it is shown; mark with N_("...") a text kept in a table
// and shown through _() later. scripts/check-catalog.sh collects the marked texts
// into po/schools.pot; po/bg.po holds the Bulgarian ones. Formats keep their
// directives in every language.
#pragma once

// The text in the reader's language, as the locale (on Windows the user's interface
// language) asks, or the text itself where no catalog has it.
const char* translate(const char* text) __attribute__((format_arg(1)));

// Chooses the catalog once at start, before anything is shown.
void startTranslations();

#define _(text) translate(text)
#define N_(text) text

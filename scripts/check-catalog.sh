#!/usr/bin/env bash
# The catalog of translated texts, checked or brought up to date.
#   scripts/check-catalog.sh          the template po/schools.pot is what the code marks,
#                                     po/bg.po translates all of it (msgfmt -c: formats
#                                     and line ends alike), nothing fuzzy or untranslated,
#                                     no line of a translation wider than 80 columns
#   scripts/check-catalog.sh update   makes the template anew from the code and merges it
#                                     into po/bg.po: new texts come untranslated, changed
#                                     ones fuzzy; translate them, drop the fuzzy mark, check
# Texts are marked in the code with _("...") where shown and N_("...") in tables
# (src/translate.h).
set -euo pipefail
cd "$(dirname "$0")/.."

template() {  # the template of the marked texts, into $1
    find src -name '*.cpp' -o -name '*.h' | LC_ALL=C sort |
        xgettext --files-from=- --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ \
            --add-comments=TRANSLATORS: --no-location --sort-output --omit-header -o "$1"
}

case ${1:-check} in
update)
    template po/schools.pot
    msgmerge --quiet --update --backup=none --no-fuzzy-matching po/bg.po po/schools.pot
    exit 0
    ;;
check) ;;
*) echo "usage: $0 [update]" >&2; exit 2 ;;
esac

fail() {
    echo "catalog check failed: $*" >&2
    exit 1
}
made=$(mktemp)
trap 'rm -f "$made"' EXIT
template "$made"
cmp -s "$made" po/schools.pot ||
    fail "po/schools.pot is not what the code marks: run scripts/check-catalog.sh update"
# (The template has no header entry: the one of po/bg.po is not counted.)
missing=$(msgcmp --use-untranslated po/bg.po po/schools.pot 2>&1) || fail "po/bg.po lacks texts of the template: $missing"
stats=$(LC_ALL=C msgfmt -c --statistics -o /dev/null po/bg.po 2>&1) || fail "msgfmt -c: $stats"
echo "po/bg.po: $stats"
[[ $stats =~ ^[0-9]+\ translated\ messages?\.$ ]] || fail "po/bg.po is not wholly translated"
# Each line of a translation fits an 80-column window.
msgcat --no-wrap po/bg.po | /usr/bin/python3 -c '
import ast, sys
wide = [t for t in (ast.literal_eval(l[l.index("\""):]) for l in sys.stdin
        if l.startswith(("msgstr ", "\"")) and l.rstrip().endswith("\""))
        for t in t.split("\n") if len(t) > 80]
sys.exit("wider than 80 columns: " + repr(wide) if wide else 0)' || fail "a translation is too wide"

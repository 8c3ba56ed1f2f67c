#!/usr/bin/env bash
# The translations' template and its catalogs. `po.sh template` makes po/trio.pot anew from the
# catalog of messages (runtime/messages.cpp, each sentence marked N_) and the errors' names
# (runtime/error_list.hpp); `po.sh check` fails unless
# the template is that of the sources, and every language in po/LINGUAS has every message of it
# translated, well-formed (msgfmt --check) and with the same placeholders as the English, each as often.
set -euo pipefail
cd "$(dirname "$0")/.."
template() {
  xgettext --language=C++ --keyword=N_ --from-code=UTF-8 --add-comments=TRANSLATORS --no-location \
    --omit-header -o "$1" runtime/error_list.hpp runtime/messages.cpp
}
case ${1:-check} in
  template) template po/trio.pot ;;
  check)
    made=$(mktemp)
    trap 'rm -f "$made"' EXIT
    template "$made"
    cmp -s "$made" po/trio.pot || { echo "po: po/trio.pot is not the template of runtime/messages.cpp (scripts/po.sh template)" >&2; exit 1; }
    status=0
    while read -r language; do
      [[ $language = \#* || -z $language ]] && continue
      po=po/$language.po
      stats=$(msgfmt --check --statistics -o /dev/null "$po" 2>&1) || { echo "po: $po: $stats" >&2; status=1; continue; }
      msgcmp "$po" po/trio.pot 2>/dev/null || { echo "po: $po lacks messages of the template" >&2; status=1; }
      case $stats in *fuzzy*|*untranslated*) echo "po: $po: $stats" >&2; status=1 ;; esac
      # Every placeholder of the English, as many times, and no other, in each translation.
      python3 - "$po" <<'PY' || status=1
import re, sys
def entries(path):
    text = open(path, encoding="utf-8").read()
    for block in text.split("\n\n"):
        parts = {}
        key = None
        for line in block.splitlines():
            m = re.match(r'(msgid|msgstr) "(.*)"$', line)
            if m:
                key = m.group(1); parts[key] = m.group(2)
            elif line.startswith('"') and key:
                parts[key] += line[1:-1]
        if parts.get("msgid"):
            yield parts["msgid"], parts.get("msgstr", "")
names = lambda text: sorted(re.findall(r"\{\w+\}", text))  # each, as many times
bad = [(i, s) for i, s in entries(sys.argv[1]) if names(i) != names(s)]
for i, s in bad:
    print(f"po: {sys.argv[1]}: the placeholders of {i!r} differ in {s!r}", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
    done < po/LINGUAS
    exit $status ;;
  *) echo "usage: po.sh template|check" >&2; exit 2 ;;
esac

#!/bin/sh
# Brings the translators' files up to date with the texts in the code:
# new texts come in unfinished, texts gone from the code leave.
# usage: tools/update-translations.sh [file.ts...]   (default: every one)
set -e
cd "$(dirname "$0")/.."
LUPDATE=${LUPDATE:-$(command -v lupdate || echo /usr/lib/qt5/bin/lupdate)}
[ $# -gt 0 ] || set -- resources/translations/*.ts
exec "$LUPDATE" -silent -locations none -no-obsolete -extensions cpp,h src launcher -ts "$@"

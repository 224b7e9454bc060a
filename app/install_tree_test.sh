#!/usr/bin/env bash
# app/install_tree_test.sh - `cmake --install` into a temporary prefix: the
# program, its tools and its read-only data land under bin/ and
# share/brindlework/, and the installed program starts from its installed
# default database with the user's data in a private $XDG_DATA_HOME folder
# or in the folder $BRINDLEWORK_PROGDIR names.
# Usage: install_tree_test.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
sleep 1
touch "$prefix/installed"

fail() { echo "install tree: $*"; exit 1; }
for f in bin/brindlework bin/soupcheck bin/soupdump bin/newsdump bin/feedget bin/webdoc bin/httpget \
         share/brindlework/database.soup.default; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/brindlework" ] || fail "bin/brindlework is not executable"

data="$prefix/data/brindlework"
out="$(env -u BRINDLEWORK_PROGDIR XDG_DATA_HOME="$prefix/data" HOME="$prefix/home" QT_QPA_PLATFORM=offscreen \
       "$prefix/bin/brindlework" UpdateAll)" || fail "brindlework UpdateAll ended with $?: $out"
[ "$out" = "No feeds to update." ] || fail "brindlework UpdateAll with no feeds printed: $out"
[ "$(stat -c %a "$prefix/data")" = 700 ] || fail "the data folder's parent is $(stat -c %a "$prefix/data")"
[ "$(stat -c %a "$data")" = 700 ] || fail "the data folder is $(stat -c %a "$data")"
for f in database.soup database.soup.bak_1Latest; do
  [ -f "$data/$f" ] || fail "no $f in the data folder"
  [ "$(stat -c %a "$data/$f")" = 600 ] || fail "$f is $(stat -c %a "$data/$f")"
done
"$prefix/bin/soupcheck" "$data/database.soup" >/dev/null || fail "soupcheck finds faults in the new database"
# A folder named by BRINDLEWORK_PROGDIR takes the user's data in its place;
# the default still comes from share/brindlework.
mine="$prefix/mine"
mkdir "$mine"
out="$(BRINDLEWORK_PROGDIR="$mine" XDG_DATA_HOME="$prefix/data" HOME="$prefix/home" QT_QPA_PLATFORM=offscreen \
       "$prefix/bin/brindlework" UpdateAll)" || fail "brindlework UpdateAll in BRINDLEWORK_PROGDIR ended with $?: $out"
[ "$(stat -c %a "$mine/database.soup")" = 600 ] || fail "database.soup in BRINDLEWORK_PROGDIR is missing or open"
# The program wrote nothing beside itself.
[ -z "$(find "$prefix/bin" "$prefix/share" -newer "$prefix/installed")" ] || fail "files were written beside the program"
echo "install tree: ok"

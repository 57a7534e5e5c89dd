#!/usr/bin/env bash
# The installer's manifest says what it must, and nothing it must not.
#   manifest.sh <installer.manifest>
set -euo pipefail
manifest=$1
fail() { echo "manifest: FAIL: $*" >&2; exit 1; }
xmllint --noout "$manifest" || fail "not well-formed XML"
q() { xmllint --xpath "$1" "$manifest"; }
el() { printf "//*[local-name()='%s']" "$1"; }

level=$(q "string($(el requestedExecutionLevel)/@level)")
[ "$level" = requireAdministrator ] || fail "execution level '$level'"
[ "$(q "string($(el requestedExecutionLevel)/@uiAccess)")" = false ] || fail "uiAccess is not false"
[ "$(q "count($(el requestedExecutionLevel))")" = 1 ] || fail "not exactly one execution level"

# Vista, 7, 8, 8.1, 10 and 11.
want="{1f676c76-80e1-4239-95bb-83d0f6d0da78} {35138b9a-5d96-4fbd-8e2d-a2440225f93a}
{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}
{e2011457-1546-43c5-a5fe-008deee3d3f0}"
got=$(q "$(el supportedOS)/@Id" | sed 's/.*Id="\(.*\)"/\1/' | sort | xargs)
[ "$got" = "$(echo $want)" ] || fail "supportedOS entries: $got"

[ "$(q "string($(el dpiAware))")" = true ] || fail "not DPI aware"
ns=$(q "namespace-uri($(el dpiAware))")
[ "$ns" = http://schemas.microsoft.com/SMI/2005/WindowsSettings ] || fail "dpiAware in namespace '$ns'"

# The dialog keeps the classic controls: no side-by-side dependency at all.
[ "$(q "count($(el dependency))")" = 0 ] || fail "a dependency is declared"
echo "manifest: administrator, Vista to 11, system DPI aware, no dependency"

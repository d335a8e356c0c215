#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a user gets it: lintian finds no error in it, it is
# named and described as Debian expects, and its programs, unpacked, run:
# quillo --version, and quillo-keys on every golden key file.
# Usage: package_check.sh quillo_VERSION_ARCH.deb   (make package-check)
# Needs the Debian packages lintian and dpkg.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() {
    echo "package-check: $*" >&2
    exit 1
}
[[ $# -eq 1 && -f $1 ]] || fail "usage: package_check.sh FILE.deb (one package; got: $*)"
deb=$1
command -v lintian >/dev/null || fail "lintian not found (Debian package lintian)"

arch=$(dpkg --print-architecture)
[[ $(basename "$deb") == "quillo_2.00_$arch.deb" ]] || fail "unexpected file name $deb"
[[ $(dpkg-deb -f "$deb" Section) == math ]] || fail "section is not math"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* ]] || fail "dependencies not found by dpkg-shlibdeps: $depends"

echo "lintian:"
lintian --fail-on error --display-info "$deb" 2>&1 | grep -v 'running with root privileges' || true
# The listing above is for reading; the verdict is lintian's own exit status.
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
[[ -f $root/usr/share/doc/quillo/copyright ]] || fail "no copyright file"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quillo" --version)
[[ $version == "quillo 2.00" ]] || fail "quillo --version printed '$version'"

# tape.keys holds the tape's lines, the others the seven fields.
for keys in tests/golden/*.keys; do
    option=--state
    [[ $(basename "$keys") == tape.keys ]] && option=--tape
    "$root/usr/bin/quillo-keys" "$option" <"$keys" | cmp -s - "${keys%.keys}.expected" ||
        fail "quillo-keys from the package differs on $keys"
done
echo "package-check: $(basename "$deb") passed (lintian, quillo --version, $(ls tests/golden/*.keys | wc -l) golden files)"

#!/usr/bin/env bash
# Checks an installed Relaycast package inside a clean chroot of one Debian suite (run by
# scripts/test-lane install-check, after `apt-get install ./PACKAGE.deb`): the suite's obs loads
# the plug-in, docks it and unloads it, and exits cleanly; packages made for other OBS lines
# are refused; removing the package leaves none of its files behind.
#
# Usage: package-install-check.sh PACKAGE.deb [OTHER_LINE.deb...]
set -uo pipefail

deb=$1
shift
package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
version=${version%%+*}
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

echo "--- $package $(dpkg-deb -f "$deb" Version): $(dpkg-deb -f "$deb" Depends)"
dpkg-query -W obs-studio

mapfile -t files < <(dpkg -L "$package" | while read -r path; do [[ -f $path ]] && echo "$path"; done)
printf 'installed: %s\n' "${files[@]}"
compgen -G "/usr/lib/*/obs-plugins/relaycast.so" >/dev/null || fail "no module in obs-plugins"
[[ -f /usr/share/obs/obs-plugins/relaycast/locale/en-US.ini ]] || fail "no data in obs-plugins"

for other in "$@"; do
    if apt-get install -s -q "$other" >/tmp/other.log 2>&1; then
        fail "$(basename "$other") would install next to obs $(dpkg-query -W -f='${Version}' obs-studio)"
    else
        echo "ok: $(basename "$other") refused: $(grep -m1 -E 'Depends|Breaks|Conflicts' /tmp/other.log)"
    fi
done

echo "--- the suite's obs with the package"
bash "$(dirname "$0")/../../tests/plugin/plugin_obs_e2e_test.sh" "$version" --installed ||
    fail "obs with the installed package"

echo "--- removing the package"
apt-get purge -y -q "$package" >/tmp/purge.log 2>&1 || {
    cat /tmp/purge.log
    fail "apt-get purge $package"
}
dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed &&
    fail "$package still installed"
for path in "${files[@]}"; do
    [[ -e $path ]] && fail "left behind: $path"
done
for path in /usr/lib/*/obs-plugins/relaycast.so /usr/share/obs/obs-plugins/relaycast; do
    [[ -e $path ]] && fail "left behind: $path"
done

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checks passed"

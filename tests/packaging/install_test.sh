#!/usr/bin/env bash
# Installs a zeva-rotator .deb into a scratch root with dpkg (its maintainer
# scripts run too, outside a chroot, as dpkg's DPKG_ROOT contract allows) and
# checks what a user gets: the programs run, the settings file is a conffile,
# the units pass systemd-analyze verify, and removal leaves only the
# conffile, which purge removes.
#   tests/packaging/install_test.sh build/package/zeva-rotator_*.deb
set -euo pipefail
deb=${1:?usage: install_test.sh PACKAGE.deb}
root=$(mktemp -d "${TMPDIR:-/tmp}/zeva-pkgroot.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "install_test: FAILED: $*" >&2; exit 1; }

mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg() { command dpkg --root="$root" --force-script-chrootless --force-depends \
  --force-not-root --log=/dev/null "$@"; }
dpkg -i "$deb" >/dev/null 2>&1 || fail "dpkg -i $deb"

for f in usr/sbin/zeva-rotator usr/bin/zeva-ctl usr/bin/zeva-boxsim \
         usr/bin/zeva-station etc/default/zeva-station \
         lib/systemd/system/zeva-rotator.service \
         lib/systemd/system/zeva-station.service \
         usr/share/man/man8/zeva-rotator.8.gz usr/share/man/man1/zeva-ctl.1.gz \
         usr/share/doc/zeva-rotator/copyright; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
[ "$("$root/usr/sbin/zeva-rotator" --version)" = 2.0.1 ] || fail "daemon --version"
grep -qx /etc/default/zeva-station "$root/var/lib/dpkg/info/zeva-rotator.conffiles" ||
  fail "the station's settings are not a conffile"
grep -q "^Status: install ok installed" "$root/var/lib/dpkg/status" || fail "not installed"
# Nothing is enabled unasked: no wants links anywhere under the root.
[ -z "$(find "$root" -path '*.wants/*')" ] || fail "a unit was enabled"
# The units as installed, their programs looked up inside the scratch root
# (systemd-analyze checks that ExecStart names an executable).
mkdir "$root/verify"
for unit in zeva-rotator zeva-station; do
  sed "s|^ExecStart=/|ExecStart=$root/|" "$root/lib/systemd/system/$unit.service" \
    >"$root/verify/$unit.service"
  # Any word from it (an unknown key, a bad value) is a failure.
  out=$(systemd-analyze verify --man=no "$root/verify/$unit.service" 2>&1) && [ -z "$out" ] ||
    fail "systemd-analyze verify $unit: $out"
done

dpkg -r zeva-rotator >/dev/null
[ ! -e "$root/usr/sbin/zeva-rotator" ] || fail "remove left the daemon"
[ -e "$root/etc/default/zeva-station" ] || fail "remove took the conffile"
dpkg -P zeva-rotator >/dev/null
[ ! -e "$root/etc/default/zeva-station" ] || fail "purge left the conffile"
echo "install_test: 1 passed, 0 failed"

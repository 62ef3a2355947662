#!/bin/sh
# Builds ZEVA Rotator and runs every test, on a fresh machine as on one that
# has everything: installs what the tests lack (tools/deps.sh test: with
# apt-get on Debian, as root or through sudo; on FreeBSD it names the
# packages), then runs `make test`. Arguments are make targets instead
# (./test.sh test-dev: the plain build's tests only).
set -e
cd "$(dirname "$0")"
tools/deps.sh test
[ $# -gt 0 ] || set -- test
exec make "$@"

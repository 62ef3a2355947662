#!/bin/sh
# Builds and runs the ZEVA Rotator daemon on TCP port 13020, on a fresh
# machine as on one that has everything: installs what the build lacks
# (tools/deps.sh run: with apt-get on Debian, as root or through sudo; on
# FreeBSD it names the packages), builds the daemon as `make run` does, then
# runs it in the foreground. Ctrl+C stops it (exit status 0).
set -e
cd "$(dirname "$0")"
tools/deps.sh run
if [ "$(uname -s)" = FreeBSD ]; then
  make daemon DEV_FLAGS=-DCMAKE_CXX_COMPILER=c++  # the base system's clang
else
  make daemon
fi
exec ./build/dev/app/zeva-rotator "$@"

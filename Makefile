# Thin wrapper over the CMake presets; POSIX make (works with BSD make too).
# On a fresh machine ./run.sh and ./test.sh install what is missing first.
#   make run    build and run the daemon
#   make test   build and run every test: the plain build's on a fresh
#               minimal Debian (tests/fresh; here when that cannot run),
#               the Debian package, ASan+UBSan and TSan builds, the fuzz
#               targets, the arm64 cross build under qemu-user
#   make test-dev  the plain build's tests only, here
#   make demo   try it without hardware (emulated boxes)
#   make web-demo  the same boxes on the station's web page (port 8080)
#   make package  the Debian package (.deb) in build/package
#   make dist   the release tarball, build/dist/zeva-rotator-2.0.1.tar.gz

run: daemon
	./build/dev/app/zeva-rotator

# The dev build configured and the daemon built (what run.sh runs).
# DEV_FLAGS: more cmake options (FreeBSD's run.sh: its base system's c++,
# as the preset names g++).
daemon:
	cmake --preset dev $(DEV_FLAGS)
	cmake --build --preset dev --target zeva-rotator

# The fresh system's test needs root; where it cannot run (it exits 77 and
# says why) the plain build's tests run on this machine instead.
test:
	@status=0; tests/fresh/fresh_test.sh || status=$$?; \
	  if [ $$status = 77 ]; then cmake --workflow --preset dev; else exit $$status; fi
	$(MAKE) package-test
	cmake --workflow --preset asan
	cmake --workflow --preset tsan
	fuzz/run.sh 20
	cmake --workflow --preset fuzz
	$(MAKE) test-arm64

test-fresh:
	tests/fresh/fresh_test.sh

test-dev:
	cmake --workflow --preset dev

demo:
	tools/demo.sh

web-demo:
	tools/demo.sh --web

# Needs crossbuild-essential-arm64, the arm64 libraries and qemu-user with
# its binfmt_misc entry (what tools/deps.sh test installs and registers).
test-arm64:
	@test -e /proc/sys/fs/binfmt_misc/qemu-aarch64 || { echo "test-arm64: qemu-aarch64 is not registered with binfmt_misc (tools/deps.sh test registers it)" >&2; exit 1; }
	cmake --workflow --preset arm64

# A Release build laid out for Debian (prefix /usr, units in
# /lib/systemd/system, compressed manual pages), built with Debian's
# hardening flags, then packed by CPack; the .deb lands in build/package.
# Reproducible: dated by the source (SOURCE_DATE_EPOCH, else the last
# commit), and packed under one umask (CPack gives its archive members the
# modes of its temporary files).
# make package ARCH=arm64 cross-builds the arm64 package (into
# build/package-arm64) with the toolchain of the arm64 tests.
ARCH = `dpkg --print-architecture`
package:
	if [ "$(ARCH)" = arm64 ] && [ "`dpkg --print-architecture`" != arm64 ]; then \
	  cmake -S . -B build/package-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	    -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE=arm64 $(PACKAGE_FLAGS) \
	    "-DCMAKE_CXX_FLAGS=`dpkg-architecture -aarm64 -c dpkg-buildflags --get CXXFLAGS` `dpkg-buildflags --get CPPFLAGS`" \
	    "-DCMAKE_EXE_LINKER_FLAGS=`dpkg-architecture -aarm64 -c dpkg-buildflags --get LDFLAGS`" && \
	  cmake --build build/package-arm64 -j2 && cd build/package-arm64 && umask 022 && cpack -G DEB; \
	else \
	  cmake -S . -B build/package $(PACKAGE_FLAGS) \
	    "-DCMAKE_CXX_FLAGS=`dpkg-buildflags --get CXXFLAGS` `dpkg-buildflags --get CPPFLAGS`" \
	    "-DCMAKE_EXE_LINKER_FLAGS=`dpkg-buildflags --get LDFLAGS`" && \
	  cmake --build build/package -j2 && cd build/package && umask 022 && cpack -G DEB; \
	fi
PACKAGE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DZEVA_BUILD_TESTS=OFF -DZEVA_PACKAGE_DEB=ON \
	-DCMAKE_INSTALL_PREFIX=/usr -DZEVA_SYSTEMD_UNIT_DIR=/lib/systemd/system

# The package installed into a scratch root and checked, and lintian. Its
# remaining tags, suppressed here, are known: the maintainer address has no
# real host until the project has a public one (ZEVA_DEB_MAINTAINER sets
# it), and a package not (yet) in Debian closes no ITP bug. Then the
# package is made again from nothing and must be the same bytes.
package-test: package
	tests/packaging/install_test.sh build/package/zeva-rotator_2.0.1-1_`dpkg --print-architecture`.deb
	lintian --fail-on error,warning \
	  --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog,initial-upload-closes-no-bugs \
	  build/package/zeva-rotator_2.0.1-1_`dpkg --print-architecture`.deb
	MAKE=$(MAKE) tests/packaging/reproducible_test.sh

# The release tarball: git archive of a commit (DIST_REF, HEAD unless
# given: the release's tag), so a clean checkout of that commit and nothing
# else; gzip -n stores no name or time, so every run gives the same bytes.
# cmake/source-date gets the commit's time (the banner's build date).
DIST_REF = HEAD
DIST = build/dist/zeva-rotator-2.0.1.tar.gz
dist:
	git rev-parse --verify -q $(DIST_REF)^{commit} >/dev/null
	mkdir -p build/dist
	git archive --format=tar --prefix=zeva-rotator-2.0.1/ $(DIST_REF) | gzip -n -9 >$(DIST).new
	mv $(DIST).new $(DIST)
	@echo "dist: $(DIST) (`git rev-parse --short $(DIST_REF)`)"

# The FreeBSD port's distinfo for that tarball, as "make makesum" in the
# port writes it (dated by the commit).
distinfo: dist
	{ echo "TIMESTAMP = `git log -1 --format=%ct $(DIST_REF)`"; \
	  echo "SHA256 (zeva-rotator-2.0.1.tar.gz) = `sha256sum $(DIST) | cut -d' ' -f1`"; \
	  echo "SIZE (zeva-rotator-2.0.1.tar.gz) = `wc -c <$(DIST) | tr -d ' '`"; \
	} >packaging/freebsd/port/distinfo

.PHONY: run daemon test test-fresh test-dev test-arm64 demo web-demo package package-test dist distinfo

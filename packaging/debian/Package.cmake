# The Debian package, made by CPack: "make package" configures a Release
# build with ZEVA_PACKAGE_DEB=ON and the prefix /usr, then runs cpack -G DEB.
# Dependencies come from dpkg-shlibdeps; the station's settings file is a
# conffile; the maintainer scripts only tell systemd about the units.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zeva-rotator")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# Packaged from the upstream source with a revision of its own (2.0.1-1).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "ZEVA Rotator developers")
# The project has no public address yet: set one with
# make package ZEVA_DEB_MAINTAINER="Name <address>" (lintian calls the
# default's host bogus, as it is).
set(ZEVA_DEB_MAINTAINER "ZEVA Rotator developers <zeva-rotator@localhost>"
    CACHE STRING "Maintainer field and changelog signature of the .deb")
set(CPACK_PACKAGE_CONTACT "${ZEVA_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "hamradio")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The radio amateurs' country file (cty.dat), where zeva-station looks up
# callsigns and prefixes; without it the station still places locators and
# latitudes and longitudes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hamradio-files")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zeva-rotator.invalid/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "network daemon that drives antenna rotators on serial controller boxes")
# The long description; CPack puts the summary above it, indents every line
# and turns the empty line into the paragraph mark " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"ZEVA Rotator lets one network client drive antenna rotators. Each rotator
is turned by a controller box on a serial port; the daemon speaks the box's
protocol (DCU-1, Rotor-EZ, Yaesu GS-232, Alfa SPID, RC2800 PA, RC2800 PX,
Prosistel D) and a plain text protocol on TCP port 13020, and pushes every
new bearing to its client.

Also included: zeva-station, which gives each rotator a port that
speaks Hamlib's rotctld protocol; zeva-ctl, a command-line client; and
zeva-boxsim, which plays the controller boxes on a pseudo-terminal.")

set(_zeva_deb "${CMAKE_CURRENT_LIST_DIR}")
configure_file("${_zeva_deb}/changelog.in" "${CMAKE_BINARY_DIR}/debian/changelog" @ONLY)
configure_file("${_zeva_deb}/conffiles.in" "${CMAKE_BINARY_DIR}/debian/conffiles" @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${_zeva_deb}/postinst;${_zeva_deb}/prerm;${_zeva_deb}/postrm;${CMAKE_BINARY_DIR}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# What Debian policy asks of every package: the copyright file and the
# changelog under /usr/share/doc/<package>.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_target(zeva_deb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
install(FILES ${_zeva_deb}/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeva-rotator)

# Reproducible: every date in the package is the source's (see the file).
configure_file("${_zeva_deb}/CPackProject.cmake.in" "${CMAKE_BINARY_DIR}/CPackProject.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_BINARY_DIR}/CPackProject.cmake")

include(CPack)

# zeva_find_library(<target> FOR <program> HEADER <file> [LIBRARY <name>...]
#                   DEBIAN <package> FREEBSD <package>)
#
# Finds a C or C++ library by one of its headers and its library file, the
# same way on Debian (multiarch paths), FreeBSD (/usr/local) and in a cross
# build, without pkg-config, and makes an imported target <target> of it.
# Without LIBRARY it is a header-only library (an interface target).
# When either is missing, configuring stops with a message that names the
# package to install on both systems, so a newcomer is never sent after a
# package that is already there.
function(zeva_find_library target)
  cmake_parse_arguments(L "" "FOR;HEADER;DEBIAN;FREEBSD" "LIBRARY" ${ARGN})
  if(TARGET ${target})
    return()
  endif()
  string(MAKE_C_IDENTIFIER "${target}" id)
  find_path(ZEVA_${id}_INCLUDE_DIR ${L_HEADER})
  if(L_LIBRARY)
    find_library(ZEVA_${id}_LIBRARY NAMES ${L_LIBRARY})
  else()
    set(ZEVA_${id}_LIBRARY header-only)
  endif()
  if(NOT ZEVA_${id}_INCLUDE_DIR OR NOT ZEVA_${id}_LIBRARY)
    if(NOT ZEVA_${id}_INCLUDE_DIR)
      set(missing "its header ${L_HEADER}")
    else()
      set(missing "its library (${L_LIBRARY})")
    endif()
    message(FATAL_ERROR "${L_FOR} needs ${target}, and ${missing} was not found.\n"
                        "  Debian/Ubuntu: apt-get install ${L_DEBIAN}\n"
                        "  FreeBSD: pkg install ${L_FREEBSD}")
  endif()
  if(L_LIBRARY)
    add_library(${target} UNKNOWN IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION "${ZEVA_${id}_LIBRARY}")
  else()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
  endif()
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${ZEVA_${id}_INCLUDE_DIR}")
endfunction()

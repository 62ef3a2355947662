# zeva_source_date(<epoch-var> <from-var> <source-dir>)
#
# The moment a build of this source is dated by, in seconds since 1970, so
# that one source gives one program and one package, whenever and wherever
# it is built. In this order: SOURCE_DATE_EPOCH from the environment (the
# reproducible-builds convention Debian's tools follow); the time of the
# source's last git commit; the commit time git archive writes into
# cmake/source-date (a release tarball has no .git); the time of the build
# as a last resort. <from-var> says which, for a comment.
function(zeva_source_date epoch_var from_var source_dir)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(from "SOURCE_DATE_EPOCH")
  if(NOT epoch MATCHES "^[0-9]+$")
    find_program(ZEVA_GIT git)
    if(ZEVA_GIT AND EXISTS "${source_dir}/.git")
      execute_process(COMMAND "${ZEVA_GIT}" -C "${source_dir}" log -1 --format=%ct
                      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(from "the last commit")
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$" AND EXISTS "${source_dir}/cmake/source-date")
    file(STRINGS "${source_dir}/cmake/source-date" epoch LIMIT_COUNT 1)
    set(from "the release's commit")
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    string(TIMESTAMP epoch "%s" UTC)
    set(from "the time of the build (no SOURCE_DATE_EPOCH, no commit)")
    message(STATUS "No SOURCE_DATE_EPOCH and no commit: dated by the time of this build")
  endif()
  set(${epoch_var} "${epoch}" PARENT_SCOPE)
  set(${from_var} "${from}" PARENT_SCOPE)
endfunction()

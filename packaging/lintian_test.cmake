# Runs Debian's package checker on the package that the test
# debian_package_contents made in WORK_DIR, at every level from error down to
# pedantic, experimental tags included: it must report no tag at all.
#   cmake -DWORK_DIR=... -P lintian_test.cmake

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message("skipped: lintian not found (Debian package lintian; scripts/packages.sh installs it)")
  return()
endif()

file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages package_count)
if(NOT package_count EQUAL 1)
  message(FATAL_ERROR "${package_count} packages in ${WORK_DIR} instead of one")
endif()
execute_process(COMMAND ${LINTIAN} --fail-on error,warning,info -EvIL +pedantic ${packages}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
# A tag is a line "<level letter>: <package>...": N: lines are lintian's notes.
if(NOT status EQUAL 0 OR out MATCHES "(^|\n)[A-MO-Z]: ")
  message(FATAL_ERROR "lintian (status ${status}) on ${packages}:\n${out}${err}")
endif()

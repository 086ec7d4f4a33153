# Installs the build tree BUILD_DIR into a fresh prefix under WORK_DIR, checks
# the installed files, renders the compressed manual pages with man, and runs
# the installed alias_manager on the installed sample table from an empty
# working directory.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DBINDIR=... -DMANDIR=... -DDOCDIR=...
#         -DVERSION=... -P install_test.cmake

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  fail("cmake --install failed (${status}):\n${out}")
endif()

set(sample ${prefix}/${DOCDIR}/ZD482_Inet.txt)
foreach(path ${BINDIR}/alias_manager ${BINDIR}/launcher ${MANDIR}/man1/alias_manager.1.gz
             ${MANDIR}/man1/launcher.1.gz ${DOCDIR}/ZD482_Inet.txt ${DOCDIR}/copyright
             ${DOCDIR}/changelog.gz)
  if(NOT EXISTS ${prefix}/${path})
    fail("not installed: ${path}")
  endif()
endforeach()

foreach(program alias_manager launcher)
  execute_process(COMMAND ${prefix}/${BINDIR}/${program} --version
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "${program} (alias-tools) ${VERSION}\n")
    fail("installed ${program} --version: status ${status}, output '${out}', errors '${err}'")
  endif()
endforeach()

# Every line of the sample is a distinct record: start-up lists them all,
# and so does choice 5.
file(STRINGS ${sample} records)
list(LENGTH records record_count)
file(MAKE_DIRECTORY ${WORK_DIR}/run)
file(WRITE ${WORK_DIR}/input "5\n\n8\n")
execute_process(COMMAND ${prefix}/${BINDIR}/alias_manager ${sample}
                WORKING_DIRECTORY ${WORK_DIR}/run INPUT_FILE ${WORK_DIR}/input
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCHALL "Number of nodes: ${record_count}\n" listings "${out}")
list(LENGTH listings listing_count)
string(FIND "${out}" "Adding lines from file name: ${sample}\n" loading)
if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR NOT loading EQUAL 0 OR NOT listing_count EQUAL 2)
  fail("installed alias_manager on ${sample}: status ${status}, ${listing_count} listings of "
       "${record_count} records\nstandard error:\n${err}\nstandard output:\n${out}")
endif()

# Each page renders from its file (man -l) and by name from the prefix's
# manual tree (man -M), as man alias_manager finds it with MANPATH set.
find_program(MAN man)
if(NOT MAN)
  message("skipped: man not found (Debian package man-db): the installed manual pages "
          "were not rendered")
  return()
endif()
foreach(page alias_manager launcher)
  foreach(arguments "-l;${prefix}/${MANDIR}/man1/${page}.1.gz" "-M;${prefix}/${MANDIR};${page}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} ${arguments}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out MATCHES "\nNAME\n +${page} [^\n]*\n.*\nEXIT STATUS\n")
      fail("man ${arguments}: status ${status}, did not render the page:\n${out}${err}")
    endif()
  endforeach()
endforeach()

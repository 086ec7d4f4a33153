# Builds the Debian package with cpack into WORK_DIR and checks with dpkg-deb
# that it holds the programs, their manual pages and the sample table, and
# that its control fields are filled.
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DWORK_DIR=... -DDOCDIR=...
#         -DVERSION=... -P package_test.cmake

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  fail("dpkg-deb not found (Debian package dpkg): the package cannot be checked")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -G DEB -B ${WORK_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages package_count)
if(NOT status EQUAL 0 OR NOT package_count EQUAL 1)
  fail("cpack -G DEB failed (${status}), ${package_count} packages made:\n${out}")
endif()

execute_process(COMMAND ${DPKG_DEB} --contents ${packages}
                RESULT_VARIABLE status OUTPUT_VARIABLE contents ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  fail("dpkg-deb --contents failed (${status}): ${err}")
endif()
foreach(entry "-rwxr-xr-x [^\n]* \\./usr/bin/alias_manager\n"
              "-rwxr-xr-x [^\n]* \\./usr/bin/launcher\n"
              "-rw-r--r-- [^\n]* \\./usr/share/man/man1/alias_manager\\.1\n"
              "-rw-r--r-- [^\n]* \\./usr/share/man/man1/launcher\\.1\n"
              "-rw-r--r-- [^\n]* \\./usr/${DOCDIR}/ZD482_Inet\\.txt\n")
  if(NOT contents MATCHES "${entry}")
    fail("the package lacks '${entry}'; dpkg-deb --contents shows:\n${contents}")
  endif()
endforeach()

execute_process(COMMAND ${DPKG_DEB} --field ${packages} Package Version Maintainer Depends Description
                RESULT_VARIABLE status OUTPUT_VARIABLE fields ERROR_VARIABLE err)
foreach(field "Package: alias-tools\n" "Version: ${VERSION}\n" "Maintainer: [^\n]+\n"
              "Depends: [^\n]*libc6[^\n]*\n" "Description: [^\n]+\n ")
  if(NOT fields MATCHES "${field}")
    fail("the package's control fields lack '${field}':\n${fields}${err}")
  endif()
endforeach()

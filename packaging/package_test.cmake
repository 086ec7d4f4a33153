# Builds the Debian package with cpack into WORK_DIR and checks with dpkg-deb
# that it holds the programs, their compressed manual pages, the sample
# table, the copyright file and the changelog under the package's name; that
# its control fields are filled; and that the programs are hardened
# executables without a .comment section.
#   cmake -DCPACK=... -DCONFIG=.../CPackConfig.cmake -DWORK_DIR=... -DDOCDIR=...
#         -DVERSION=... -DMAINTAINER=... -P package_test.cmake

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

# Runs a command that must succeed; its standard output goes to out_var.
function(run out_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(JOIN " " command ${ARGN})
    fail("${command} failed (${status}):\n${out}${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

foreach(tool dpkg-deb gzip readelf)
  find_program(path_of_${tool} ${tool})
  if(NOT path_of_${tool})
    fail("${tool} not found (Debian packages dpkg, gzip, binutils): the package cannot be checked")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -G DEB -B ${WORK_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages package_count)
if(NOT status EQUAL 0 OR NOT package_count EQUAL 1)
  fail("cpack -G DEB failed (${status}), ${package_count} packages made:\n${out}")
endif()

run(contents dpkg-deb --contents ${packages})
set(doc "\\./usr/${DOCDIR}")
foreach(entry "-rwxr-xr-x [^\n]* \\./usr/bin/alias_manager\n"
              "-rwxr-xr-x [^\n]* \\./usr/bin/launcher\n"
              "-rw-r--r-- [^\n]* \\./usr/share/man/man1/alias_manager\\.1\\.gz\n"
              "-rw-r--r-- [^\n]* \\./usr/share/man/man1/launcher\\.1\\.gz\n"
              "-rw-r--r-- [^\n]* ${doc}/ZD482_Inet\\.txt\n"
              "-rw-r--r-- [^\n]* ${doc}/copyright\n"
              "-rw-r--r-- [^\n]* ${doc}/changelog\\.gz\n")
  if(NOT contents MATCHES "${entry}")
    fail("the package lacks '${entry}'; dpkg-deb --contents shows:\n${contents}")
  endif()
endforeach()
if(NOT DOCDIR MATCHES "/doc/alias-tools$" OR contents MATCHES "/doc/alias_tools/|\\.1\n")
  fail("the documentation is not all under share/doc/alias-tools/, or a manual page "
       "is not compressed; dpkg-deb --contents shows:\n${contents}")
endif()

run(fields dpkg-deb --field ${packages} Package Version Maintainer Depends Description)
string(REGEX REPLACE "([][+.*()^$])" "\\\\\\1" maintainer_pattern "${MAINTAINER}")
foreach(field "Package: alias-tools\n" "Version: ${VERSION}\n" "Maintainer: ${maintainer_pattern}\n"
              "Depends: [^\n]*libc6[^\n]*\n" "Description: [^\n]+\n ")
  if(NOT fields MATCHES "${field}")
    fail("the package's control fields lack '${field}':\n${fields}")
  endif()
endforeach()

set(tree ${WORK_DIR}/extracted)
run(ignored dpkg-deb --extract ${packages} ${tree})

# The copyright file in Debian's machine-readable format, with the terms of LICENSE.
file(READ ${tree}/usr/${DOCDIR}/copyright copyright)
if(NOT copyright MATCHES "^Format: https://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/\n"
   OR NOT copyright MATCHES "\nUpstream-Name: alias-tools\n"
   OR NOT copyright MATCHES "\n\nFiles: \\*\nCopyright: [0-9]+ [^\n]+\nLicense: MIT\n Permission is hereby granted"
   OR NOT copyright MATCHES "\n \\.\n THE SOFTWARE IS PROVIDED \"AS IS\"[^\n]*\n( [^\n]+\n)+$")
  fail("the copyright file is not a machine-readable MIT copyright:\n${copyright}")
endif()

# A native package's changelog, whose newest entry is this version, signed
# by the maintainer.
run(changelog gzip -dc ${tree}/usr/${DOCDIR}/changelog.gz)
if(NOT changelog MATCHES "^alias-tools \\(${VERSION}\\) [a-z]+; urgency=[a-z]+\n\n  \\* "
   OR NOT changelog MATCHES "\n\n -- ${maintainer_pattern}  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9]+ ")
  fail("the changelog does not begin with an entry for ${VERSION} signed by ${MAINTAINER}:\n${changelog}")
endif()

# Hardened executables: bound at start-up (BIND_NOW), position-independent,
# and without the compilers' .comment section.
foreach(program alias_manager launcher)
  run(dynamic readelf -d ${tree}/usr/bin/${program})
  if(NOT dynamic MATCHES "\\(FLAGS\\)[^\n]* BIND_NOW" OR NOT dynamic MATCHES "\\(FLAGS_1\\)[^\n]* PIE")
    fail("${program} is not a PIE bound at start-up; readelf -d shows:\n${dynamic}")
  endif()
  run(comment readelf -p .comment ${tree}/usr/bin/${program})
  if(NOT comment STREQUAL "")
    fail("${program} keeps a .comment section:\n${comment}")
  endif()
endforeach()

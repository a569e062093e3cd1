# The Debian package (make package): the program in /usr/bin, its man page compressed in
# /usr/share/man/man1, and the files Debian asks of every package in /usr/share/doc/cdmg2csv.
# Built by CPack from the same install rules as make install; the Debian files are a component
# of their own, installed only into the package.

find_program(GZIP_PROGRAM gzip REQUIRED)

# gzip -n: no name or time stamp in the compressed file, so the package is the same from build
# to build.
function(cdmg_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${target}
    DEPENDS ${source})
endfunction()

cdmg_gzip(${PROJECT_SOURCE_DIR}/doc/cdmg2csv.1 ${PROJECT_BINARY_DIR}/cdmg2csv.1.gz)
cdmg_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_target(compressed_docs ALL
  DEPENDS ${PROJECT_BINARY_DIR}/cdmg2csv.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)

# The package's version is the project's: the changelog's latest entry must name it.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^cdmg2csv \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog's latest entry is not version ${PROJECT_VERSION}: "
                      "${changelog_top}")
endif()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS cdmg2csv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_BINARY_DIR}/cdmg2csv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT program)
install(FILES packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/cdmg2csv COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME cdmg2csv COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cdmg2csv)
set(CPACK_PACKAGE_VENDOR "cdmg2csv maintainers")
set(CPACK_PACKAGE_CONTACT "cdmg2csv maintainers <maintainers@users.noreply.c-seed-f1b9dc8e.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME cdmg2csv)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies as dpkg-shlibdeps finds them in the program: none, for the static program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"combine a three-component strong-motion record into one CSV file
cdmg2csv reads the three component files of a strong-motion acceleration
record in the CDMG text layout (QRV-N00-1.txt, QRV-N90-1.txt and QRV-UP-1.txt,
one acceleration component each) from the current directory and writes one
comma-separated file with a row per sample: the time and the three components,
in fixed 40-character rows. It takes no arguments; the name of the output file
is read from standard input.
.
Every console line, CSV byte and diagnostic is fixed by the FORTRAN 77
formatted and list-directed input/output rules, which the program applies
exactly through a small record I/O runtime of its own.")
include(CPack)

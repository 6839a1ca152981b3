# Run by CPack on the staged package, before it is packed (CPACK_PRE_BUILD_SCRIPTS): the
# program folder stays under the packaging prefix, /opt/legisdisco, while the desktop
# entry, the icon and the AppStream metadata move to /usr/share, where desktops look for
# them, and /usr/bin/legisdisco becomes a link to the program. The package's copyright,
# changelog and lintian overrides go where Debian keeps them.
#
# Each package is staged in a folder of its own, named after its CPack component; this
# script lays out the viewer's, legisdisco (component viewer), alone.

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/viewer")
set(program "${root}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT EXISTS "${program}/legisdisco")
    message(FATAL_ERROR "The staged program folder ${program} has no program")
endif()

file(MAKE_DIRECTORY "${root}/usr/bin")
file(RENAME "${program}/share" "${root}/usr/share")
file(CREATE_LINK "${CPACK_PACKAGING_INSTALL_PREFIX}/legisdisco" "${root}/usr/bin/legisdisco"
     SYMBOLIC)

set(doc "${root}/usr/share/doc/legisdisco")
file(MAKE_DIRECTORY "${doc}" "${root}/usr/share/lintian/overrides")
file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides"
     "${root}/usr/share/lintian/overrides/legisdisco")
execute_process(COMMAND gzip -9n -c "${CMAKE_CURRENT_LIST_DIR}/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the changelog")
endif()

# The manual page, compressed as Debian wants it.
set(man "${root}/usr/share/man/man1")
file(MAKE_DIRECTORY "${man}")
execute_process(COMMAND gzip -9n -c "${CMAKE_CURRENT_LIST_DIR}/legisdisco.1"
                OUTPUT_FILE "${man}/legisdisco.1.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the manual page")
endif()

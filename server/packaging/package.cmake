# The Debian package legisdisco-update-server: the CPack component "server" of the
# project's one CPack configuration (packaging/CMakeLists.txt includes this file before
# CPack). The package holds
#
#   /usr/bin/legisdisco-update-server                   the program
#   /lib/systemd/system/legisdisco-update-server.service    its unit, enabled on demand
#   /etc/default/legisdisco-update-server               the unit's options (a conffile)
#   /usr/share/man/man1/legisdisco-update-server.1.gz   the manual, made from --help
#   /usr/share/doc/legisdisco-update-server/            copyright and changelog
#   /usr/share/lintian/overrides/legisdisco-update-server   a lintian tag, and why
#
# The program goes to /usr/bin rather than /usr/sbin: it needs no privilege, and anyone
# may run it by hand on a folder of circulars as well as have systemd run it.
#
# These rules install to absolute paths, so they stay out of a plain `cmake --install`,
# which lays out the viewer's program folder under any prefix: only the packaging, which
# installs the component alone into its staging folder, takes them.

set(server_packaging ${CMAKE_CURRENT_LIST_DIR})
set(server_generated ${CMAKE_BINARY_DIR}/server/packaging)

add_custom_command(
    OUTPUT ${server_generated}/legisdisco-update-server.1.gz ${server_generated}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${server_generated}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:legisdisco-update-server>
            -DVERSION=${PROJECT_VERSION} -DCHANGELOG=${server_packaging}/changelog
            -DOUT=${server_generated} -P ${server_packaging}/manpage.cmake
    DEPENDS legisdisco-update-server ${server_packaging}/manpage.cmake
            ${server_packaging}/changelog
    COMMENT "Manual page of the update server"
    VERBATIM)
add_custom_target(legisdisco-update-server-manual ALL
    DEPENDS ${server_generated}/legisdisco-update-server.1.gz ${server_generated}/changelog.gz)

install(TARGETS legisdisco-update-server RUNTIME DESTINATION /usr/bin
        COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${server_packaging}/legisdisco-update-server.service
        DESTINATION /lib/systemd/system COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${server_packaging}/legisdisco-update-server.default
        DESTINATION /etc/default RENAME legisdisco-update-server
        COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${server_generated}/legisdisco-update-server.1.gz
        DESTINATION /usr/share/man/man1 COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${server_packaging}/copyright ${server_generated}/changelog.gz
        DESTINATION /usr/share/doc/legisdisco-update-server COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${server_packaging}/lintian-overrides DESTINATION /usr/share/lintian/overrides
        RENAME legisdisco-update-server COMPONENT server EXCLUDE_FROM_ALL)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME legisdisco-update-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_DESCRIPTION
    "Reference update server for the Legisdisco viewer\n"
    "Serves a folder of PDF circulars to Legisdisco viewers the way a securities\n"
    "regulator's update server does: the list of circulars, the request and answer\n"
    "pages, and a zip package of the circulars asked for. It speaks plain HTTP,\n"
    "meant to sit behind a reverse proxy for HTTPS.\n"
    "The package installs a systemd unit that it neither enables nor starts: set the\n"
    "options in /etc/default/legisdisco-update-server, then enable it.")
string(REPLACE ";" "" CPACK_DEBIAN_SERVER_DESCRIPTION "${CPACK_DEBIAN_SERVER_DESCRIPTION}")
# The libraries it links (Qt Core, Network and PDF, zlib) come from dpkg-shlibdeps; it
# needs nothing else at run time.
set(CPACK_DEBIAN_SERVER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${server_packaging}/conffiles ${server_packaging}/postinst ${server_packaging}/prerm
    ${server_packaging}/postrm)
# Takes the viewer's /opt/legisdisco, which CPack stages in every package, out of this one.
list(APPEND CPACK_PRE_BUILD_SCRIPTS ${server_packaging}/deb-layout.cmake)

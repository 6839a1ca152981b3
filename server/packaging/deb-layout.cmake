# Run by CPack on the staged packages, before they are packed (CPACK_PRE_BUILD_SCRIPTS).
# CPack makes the packaging prefix, the viewer's /opt/legisdisco, in every package's
# staging folder; the update server's package installs nothing there, so the empty folder
# goes.

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/server")
if(NOT EXISTS "${root}/usr/bin/legisdisco-update-server")
    message(FATAL_ERROR "The staged server package ${root} has no program")
endif()

set(prefix "${root}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB left "${prefix}/*")
if(left)
    message(FATAL_ERROR "The server package puts files under ${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
# Up from the prefix, each folder that the prefix alone made: /opt/legisdisco, then /opt.
while(IS_DIRECTORY "${prefix}" AND NOT prefix STREQUAL root)
    file(GLOB left "${prefix}/*")
    if(left)
        break()
    endif()
    file(REMOVE_RECURSE "${prefix}")
    get_filename_component(prefix "${prefix}" DIRECTORY)
endwhile()

# The compiler's notes on itself are of no use in the package (strip keeps them).
execute_process(COMMAND objcopy --remove-section=.comment
                        "${root}/usr/bin/legisdisco-update-server"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "objcopy could not clean ${root}/usr/bin/legisdisco-update-server")
endif()

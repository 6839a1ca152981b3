# cmake -DSOURCE=<legisdis.ini> -DDESTINATION=<program folder>/legisdis.ini -P stage_settings.cmake
#
# Puts the demo settings file into the program folder when the folder has none yet.
# An existing file holds the user's own settings and is never replaced.
if(NOT SOURCE OR NOT DESTINATION)
    message(FATAL_ERROR "stage_settings.cmake needs -DSOURCE=... and -DDESTINATION=...")
endif()

if(NOT EXISTS "${DESTINATION}")
    get_filename_component(destination_dir "${DESTINATION}" DIRECTORY)
    file(MAKE_DIRECTORY "${destination_dir}")
    file(COPY_FILE "${SOURCE}" "${DESTINATION}")
    message(STATUS "Staged demo settings file ${DESTINATION}")
endif()

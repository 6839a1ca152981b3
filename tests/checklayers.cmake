# Checks that every #include "..." between the folders of src/ points down the floors:
#   core -> platform, widgets -> utility -> subscription, update, proxy, search -> shell -> app
# that src/core names no Qt module but Qt Core, and that the update server, a product of
# its own beside src/, takes nothing from the viewer but src/core. Run as a test:
#   cmake -DSRC=<repository>/src -P tests/checklayers.cmake
if(NOT SRC)
    message(FATAL_ERROR "SRC names the src folder")
endif()

set(floor_core 0)
set(floor_platform 1)
set(floor_widgets 1)
set(floor_utility 2)
set(floor_subscription 3)
set(floor_update 3)
set(floor_proxy 3)
set(floor_search 3)
set(floor_shell 4)
set(floor_app 5)
set(folders core platform widgets utility subscription update proxy search shell app)

# Which folder each header lives in.
foreach(folder IN LISTS folders)
    file(GLOB headers RELATIVE ${SRC}/${folder} ${SRC}/${folder}/*.h)
    foreach(header IN LISTS headers)
        set(home_${header} ${folder})
    endforeach()
endforeach()

set(faults "")
foreach(folder IN LISTS folders)
    file(GLOB files ${SRC}/${folder}/*.h ${SRC}/${folder}/*.cpp)
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^#include [\"<]")
        foreach(line IN LISTS includes)
            if(line MATCHES "^#include \"([^\"]+)\"")
                set(home "${home_${CMAKE_MATCH_1}}")
                if(home AND NOT home STREQUAL folder
                   AND NOT floor_${home} LESS floor_${folder})
                    list(APPEND faults "${file}: ${line} reaches up or across, into src/${home}")
                endif()
            elseif(folder STREQUAL "core" AND line MATCHES "^#include <Qt([A-Za-z]+)/"
                   AND NOT CMAKE_MATCH_1 STREQUAL "Core")
                list(APPEND faults "${file}: ${line} is not Qt Core")
            endif()
        endforeach()
    endforeach()
endforeach()

file(GLOB_RECURSE server_files ${SRC}/../server/*.h ${SRC}/../server/*.cpp)
foreach(file IN LISTS server_files)
    file(STRINGS ${file} includes REGEX "^#include \"")
    foreach(line IN LISTS includes)
        if(line MATCHES "^#include \"([^\"]+)\"")
            set(home "${home_${CMAKE_MATCH_1}}")
            if(home AND NOT home STREQUAL "core")
                list(APPEND faults "${file}: ${line} takes from the viewer's src/${home}")
            endif()
        endif()
    endforeach()
endforeach()

if(faults)
    list(JOIN faults "\n" text)
    message(FATAL_ERROR "Includes against the floors:\n${text}")
endif()
message(STATUS "Every include points down the floors")

# Signs the demo update server's circulars the way a publisher does, with a key pair made
# for this build folder alone (never committed, never a real publisher's):
#
#   KEYS/demo.key, KEYS/demo.pub     the pair, made once with minisign -G (no password)
#   STAGE/legisdis.pub               the public key, beside the demo program
#   FOLDER/catalogo.txt              the catalog, from legisdisco-update-server --write-catalog
#   FOLDER/catalogo.txt.minisig      its signature, made again only when the catalog changes
#
#   cmake -DSERVER=<program> -DFOLDER=<circulars> -DMETADATA=<table> -DKEYS=<folder>
#         -DSTAGE=<program folder> -P sign.cmake
foreach(name SERVER FOLDER METADATA KEYS STAGE)
    if(NOT ${name})
        message(FATAL_ERROR "sign.cmake needs -D${name}=...")
    endif()
endforeach()

find_program(MINISIGN minisign REQUIRED)
file(MAKE_DIRECTORY "${KEYS}")
if(NOT EXISTS "${KEYS}/demo.key" OR NOT EXISTS "${KEYS}/demo.pub")
    file(REMOVE "${KEYS}/demo.key" "${KEYS}/demo.pub")
    execute_process(COMMAND "${MINISIGN}" -G -W -p "${KEYS}/demo.pub" -s "${KEYS}/demo.key"
                    OUTPUT_QUIET RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "minisign could not make the demo key pair")
    endif()
endif()
file(COPY_FILE "${KEYS}/demo.pub" "${STAGE}/legisdis.pub" ONLY_IF_DIFFERENT)

# One sequence for the demo; a year of validity from the day the catalog changed.
execute_process(COMMAND "${SERVER}" --write-catalog "${FOLDER}" --sequence 1
                        --metadata "${METADATA}"
                OUTPUT_VARIABLE catalog RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "legisdisco-update-server could not write the demo catalog")
endif()
set(old "")
if(EXISTS "${FOLDER}/catalogo.txt")
    file(READ "${FOLDER}/catalogo.txt" old)
endif()
# Compare without the last valid day, which moves with the calendar.
string(REGEX REPLACE "vigente-hasta\t[^\n]*" "" new_body "${catalog}")
string(REGEX REPLACE "vigente-hasta\t[^\n]*" "" old_body "${old}")
if(new_body STREQUAL old_body AND EXISTS "${FOLDER}/catalogo.txt.minisig")
    return()
endif()
file(WRITE "${FOLDER}/catalogo.txt" "${catalog}")
file(REMOVE "${FOLDER}/catalogo.txt.minisig")
execute_process(COMMAND "${MINISIGN}" -S -s "${KEYS}/demo.key" -m "${FOLDER}/catalogo.txt"
                        -t "Catálogo de demostración de Legisdisco"
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "minisign could not sign the demo catalog")
endif()

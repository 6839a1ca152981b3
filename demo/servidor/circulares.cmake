# The circulars of the demo update server, made at build time in
# ${LEGISDISCO_DEMO_SERVER_DIR} (build/servidor/circulares, beside the program folder and
# not inside it). The server offers the demo's own circulars 1001-1003, copied from the
# program folder so that both hold the same files, and three more, 1004-1006, made by
# legisdisco-demopdf, which the viewer can then fetch as an update. The folder carries the
# catalog of its circulars, signed with a demo key made for the build folder (sign.cmake).
#
# Included by demo/CMakeLists.txt after make_pdf() and the program folder's circulars.
# Target: legisdisco_demo_server (part of ALL).

get_filename_component(LEGISDISCO_DEMO_SERVER_DIR ${LEGISDISCO_STAGE_DIR}/../servidor/circulares
                       ABSOLUTE)
set(LEGISDISCO_DEMO_SERVER_DIR ${LEGISDISCO_DEMO_SERVER_DIR}
    CACHE INTERNAL "Folder of circulars served by the demo update server")

set(legisdisco_demo_server_outputs)


make_pdf(${LEGISDISCO_DEMO_SERVER_DIR}/1004.pdf legisdisco_demo_server_outputs
    "Circular 1004: Comunicación de hechos relevantes"
    "Oficina Reguladora de Valores Electrónicos. Circular n.º 1004, de 8 de julio de 2024."
    "Los emisores inscritos comunicarán a la Oficina, a través del Sistema de Remisión Electrónica, todo hecho o decisión que pueda influir de forma sensible en el precio de sus valores, tan pronto como se produzca y antes de su difusión por cualquier otro medio."
    "La Oficina publicará la comunicación en su página web el mismo día de su recepción."
    "Documento de demostración: contenido ficticio sin valor normativo.")

make_pdf(${LEGISDISCO_DEMO_SERVER_DIR}/1005.pdf legisdisco_demo_server_outputs
    "Circular 1005: Tarifas de supervisión para el ejercicio 2025"
    "Oficina Reguladora de Valores Electrónicos. Circular n.º 1005, de 16 de septiembre de 2024."
    "Las entidades supervisadas abonarán la tarifa anual de supervisión en dos plazos iguales, el primero antes del 31 de marzo y el segundo antes del 30 de septiembre de 2025, mediante transferencia a la cuenta que la Oficina indique en su página web."
    "El retraso en el pago devengará el interés legal del dinero incrementado en dos puntos."
    "Documento de demostración: contenido ficticio sin valor normativo.")

make_pdf(${LEGISDISCO_DEMO_SERVER_DIR}/1006.pdf legisdisco_demo_server_outputs
    "Circular 1006: Conservación de registros de operaciones"
    "Oficina Reguladora de Valores Electrónicos. Circular n.º 1006, de 2 de diciembre de 2024."
    "Los intermediarios conservarán durante cinco años los registros de todas las órdenes recibidas y de las operaciones ejecutadas, con la fecha, la hora, el precio, el volumen y la identificación del cliente, en un formato que permita su consulta por la Oficina."
    "Documento de demostración: contenido ficticio sin valor normativo.")

# 1001-1003 are copied from the program folder each build (a copy only when they differ),
# after the demo collection has made them.
set(legisdisco_demo_server_copies)
foreach(number 1001 1002 1003)
    list(APPEND legisdisco_demo_server_copies ${LEGISDISCO_STAGE_DIR}/circulares/${number}.pdf)
endforeach()

add_custom_target(legisdisco_demo_server ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LEGISDISCO_DEMO_SERVER_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${legisdisco_demo_server_copies}
            ${LEGISDISCO_DEMO_SERVER_DIR}
    # The catalog of the served circulars, signed with the build's own demo key, whose
    # public half goes beside the demo program as legisdis.pub.
    COMMAND ${CMAKE_COMMAND} -DSERVER=$<TARGET_FILE:legisdisco-update-server>
            -DFOLDER=${LEGISDISCO_DEMO_SERVER_DIR}
            -DMETADATA=${CMAKE_CURRENT_LIST_DIR}/circulares.tsv
            -DKEYS=${CMAKE_BINARY_DIR}/clave-demo -DSTAGE=${LEGISDISCO_STAGE_DIR}
            -P ${CMAKE_CURRENT_LIST_DIR}/sign.cmake
    DEPENDS ${legisdisco_demo_server_outputs} legisdisco-update-server
    SOURCES ${CMAKE_CURRENT_LIST_FILE} ${CMAKE_CURRENT_LIST_DIR}/sign.cmake
            ${CMAKE_CURRENT_LIST_DIR}/circulares.tsv
    COMMENT "Demo update server circulars in ${LEGISDISCO_DEMO_SERVER_DIR}"
    VERBATIM)
add_dependencies(legisdisco_demo_server legisdisco_demo)

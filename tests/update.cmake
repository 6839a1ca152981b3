# Tests of the circular updates: the reference update server.
# Included by tests/CMakeLists.txt.

# The test reads the packages back with libzip.
if(NOT TARGET PkgConfig::LIBZIP)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
endif()

legis_add_test(tst_updateserver SOURCES tst_updateserver.cpp
               LIBS legis_updateserver Qt6::Network PkgConfig::LIBZIP)
target_compile_definitions(tst_updateserver PRIVATE
    UPDATE_SERVER_PROGRAM="$<TARGET_FILE:legisdisco-update-server>"
    DEMO_CIRCULAR="${LEGISDISCO_STAGE_DIR}/circulares/1001.pdf")
add_dependencies(tst_updateserver legisdisco-update-server legisdisco_demo)

# The server's defences against hostile clients, with short timeouts.
legis_add_test(tst_updateserverlimits SOURCES tst_updateserverlimits.cpp
               LIBS legis_updateserver Qt6::Network)

# The packages: the archives the server writes and where it keeps them.
legis_add_test(tst_packagecache SOURCES tst_packagecache.cpp
               LIBS legis_updateserver PkgConfig::LIBZIP)

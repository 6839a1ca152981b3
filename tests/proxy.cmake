# The proxy engine, its store, its dialog, and the browser going through the
# stored proxy.
legis_add_test(tst_proxy SOURCES tst_proxy.cpp LIBS legis_proxy)
legis_add_test(tst_proxydialog SOURCES tst_proxydialog.cpp LIBS legis_proxy)
legis_add_test(tst_proxybrowser SOURCES tst_proxybrowser.cpp LIBS legis_proxy)

# The browser test again, with the switches in the program's arguments: the
# engine reads them there only when QTWEBENGINE_CHROMIUM_FLAGS is not set.
add_test(NAME tst_proxybrowser_arguments COMMAND tst_proxybrowser)
set_tests_properties(tst_proxybrowser_arguments PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;XDG_RUNTIME_DIR=${TEST_RUNTIME_DIR}"
    ENVIRONMENT_MODIFICATION "QTWEBENGINE_CHROMIUM_FLAGS=unset:")
legis_add_test(tst_proxymenu SOURCES tst_proxymenu.cpp LIBS legis_shell)
legis_add_test(tst_proxydirect SOURCES tst_proxydirect.cpp LIBS legis_proxy)

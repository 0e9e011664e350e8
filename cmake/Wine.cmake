# Black-box suites run a second time, against the Windows programs under Wine,
# when DUPEHUNT_WIN32_DIR names a Win32 build (tools/build-win32) holding
# dupehunt.exe and Purgon32.exe. Those tests are named "wine.<suite>.<test>",
# carry the label "wine" and share one Wine prefix in the build tree, started
# by the test wine.session.start and ended by wine.session.stop.
set(DUPEHUNT_WIN32_DIR "" CACHE PATH
    "Win32 build whose programs the Wine tests run (empty: no Wine tests)")

set(DUPEHUNT_WINE_TESTS OFF)
if(DUPEHUNT_TESTS AND DUPEHUNT_WIN32_DIR)
  if(NOT EXISTS "${DUPEHUNT_WIN32_DIR}/dupehunt.exe" OR NOT EXISTS "${DUPEHUNT_WIN32_DIR}/Purgon32.exe")
    message(FATAL_ERROR "DUPEHUNT_WIN32_DIR=${DUPEHUNT_WIN32_DIR} holds no dupehunt.exe and "
                        "Purgon32.exe: build them first with tools/build-win32")
  endif()
  find_program(DUPEHUNT_WINE wine REQUIRED)
  find_program(DUPEHUNT_WINESERVER wineserver REQUIRED)
  set(DUPEHUNT_WINE_TESTS ON)
  set(DUPEHUNT_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(session "${PROJECT_SOURCE_DIR}/testing/wine_session.sh")
  add_test(NAME wine.session.start COMMAND ${session} start ${DUPEHUNT_WINEPREFIX})
  add_test(NAME wine.session.stop COMMAND ${session} stop ${DUPEHUNT_WINEPREFIX})
  set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine LABELS wine TIMEOUT 300)
  set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
endif()

# Registers the tests of target that match the GoogleTest filter once more,
# as Wine tests, when the Wine tests are on.
function(dupehunt_add_wine_tests target filter)
  if(DUPEHUNT_WINE_TESTS)
    gtest_discover_tests(${target}
      TEST_PREFIX "wine."
      TEST_FILTER "${filter}"
      DISCOVERY_TIMEOUT 60
      PROPERTIES
        TIMEOUT 600
        LABELS wine
        FIXTURES_REQUIRED wine
        ENVIRONMENT "DUPEHUNT_WIN32_DIR=${DUPEHUNT_WIN32_DIR}\\;WINEPREFIX=${DUPEHUNT_WINEPREFIX}")
  endif()
endfunction()

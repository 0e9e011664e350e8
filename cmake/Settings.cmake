# Warnings and sanitizer options live in INTERFACE targets that every target links.

add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra)

add_library(project_options INTERFACE)
target_link_libraries(project_options INTERFACE project_warnings)
if(DUPEHUNT_SANITIZE)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

# A test program: links GoogleTest and registers every test case with CTest.
function(dupehunt_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main project_options)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# The programs carry the C++ run-time with them: no shared libstdc++ to load
# keeps a small run's memory at about half. Sanitizer builds keep the shared
# run-time, which the sanitizers expect.
add_library(program_options INTERFACE)
target_link_libraries(program_options INTERFACE project_options)
if(NOT WIN32 AND NOT DUPEHUNT_SANITIZE)
  target_link_options(program_options INTERFACE -static-libstdc++ -static-libgcc)
endif()

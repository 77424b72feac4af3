# One test executable per listed tests/<name>.cpp of the calling folder, each registered with ctest and
# run offscreen:   vornak_add_tests(TESTS tst_uA tst_uB LIBS lib1 lib2 ...)
# Tests keep their envelope cache in the build folder, never in the user's own cache folder.
# Tests can find the companion tool through the environment variable VORNAK_TOOL and the source
# tree through VORNAK_SOURCE_DIR.
function(vornak_add_tests)
  cmake_parse_arguments(ARG "" "" "TESTS;LIBS" ${ARGN})
  foreach(name ${ARG_TESTS})
    add_executable(${name} "${CMAKE_CURRENT_SOURCE_DIR}/tests/${name}.cpp")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORNAK_TOOL=$<TARGET_FILE:vornak-tool>;VORNAK_SOURCE_DIR=${PROJECT_SOURCE_DIR};XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache"
      TIMEOUT 300)
  endforeach()
endfunction()

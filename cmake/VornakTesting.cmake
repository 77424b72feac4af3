# One test executable per tests/tst_*.cpp of a folder, each registered with ctest and run offscreen.
#   vornak_add_tests(LIBS lib1 lib2 ...)      (call from the folder's CMakeLists)
function(vornak_add_tests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tests/tst_*.cpp")
  foreach(src ${test_sources})
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/tests_common")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORNAK_TOOL=$<TARGET_FILE:vornak-tool>;VORNAK_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 300)
  endforeach()
endfunction()

# The tests of the calling folder, compiled into one test program that ctest runs once per test, with the
# test's name as its first argument (base/testing/TestMain.h), each run offscreen:
#   vornak_add_tests(PROGRAM tests_name TESTS tst_uA tst_uB LIBS lib1 lib2 ...)
# PROGRAM may be left out for a single test: the program then has the test's name. Every test of a program
# links every library it names. The sources are compiled VORNAK_TEST_UNITY_BATCH at a time in one unit (a
# unity build, with VORNAK_UNITY; 0, the default: all of a program's sources in one unit): a test unit costs
# about a processor second before its first own line (loading the tests' precompiled header), the QtTest
# templates its tests share are made once per unit, and a test program takes a third of a second to link,
# in each build. Measured (docs, Benchmarks: build): all in one unit compiles quickest, then 5, then 3.
# Tests keep their envelope cache in the build folder, never in the user's own cache folder.
# Tests can find the companion tool through the environment variable VORNAK_TOOL and the source
# tree through VORNAK_SOURCE_DIR.
# What the ffmpeg program makes for the tests is kept in VORNAK_FIXTURE_CACHE and copied from there when a test
# asks for the same again (base/testing/FfmpegKit.h); the test command's sanitizer build shares the normal one's.
set(VORNAK_TEST_UNITY_BATCH 0 CACHE STRING "Test sources per unit of a test program (0: all)")
set(VORNAK_FIXTURE_CACHE "${CMAKE_BINARY_DIR}/test-fixtures" CACHE PATH
    "Folder in which the tests keep the files the ffmpeg program made for them")
# The tests that take longest, with their seconds on a quiet two-core machine (ctest's COST): in a fresh build
# folder ctest starts these first, so that no long test is left running alone at the end of the suite. After
# a run ctest orders by the times it recorded itself.
set(VORNAK_TEST_COSTS tst_CatalogueRobustness=66 tst_uAudioExport=34 tst_AudioRobustness=33
    tst_uPlaybackChoices=27 tst_uDemo=21 tst_uLoudness=16 tst_uDecoder=16 tst_ReaderExit=16 tst_uMainTrust=14
    tst_VornakToolArchive=14 tst_uMain=13 tst_uWebServer=12 tst_uEnvelope=11 tst_uMainKeys=10)

# A test's own moc file (the test includes "<name>.moc"), made by moc from the test source alone. AUTOMOC would
# also give moc every include folder, and moc then reads each header the test includes, Qt's and the
# standard library's (some 600 files, 1.5 processor seconds per test) for the same output: a test declares
# its test class in its own source.
function(_vornak_test_moc program name source)
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/${program}_moc)
  add_custom_command(OUTPUT ${folder}/${name}.moc
                     COMMAND Qt6::moc ${source} -o ${folder}/${name}.moc
                     DEPENDS ${source} $<TARGET_FILE:Qt6::moc>
                     COMMENT "moc ${name}.cpp" VERBATIM)
  target_sources(${program} PRIVATE ${folder}/${name}.moc)
  target_include_directories(${program} PRIVATE ${folder})
endfunction()

function(vornak_add_tests)
  cmake_parse_arguments(ARG "" "PROGRAM" "TESTS;LIBS" ${ARGN})
  set(program ${ARG_PROGRAM})
  if(NOT program)
    list(LENGTH ARG_TESTS count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "vornak_add_tests: PROGRAM names the test program of several tests (${ARG_TESTS})")
    endif()
    set(program ${ARG_TESTS})
  endif()
  set(sources "")
  foreach(name ${ARG_TESTS})
    list(APPEND sources "${CMAKE_CURRENT_SOURCE_DIR}/tests/${name}.cpp")
  endforeach()
  add_executable(${program} ${sources})
  target_link_libraries(${program} PRIVATE ${ARG_LIBS} test_main Qt6::Test)
  set_target_properties(${program} PROPERTIES AUTOMOC OFF)
  # Without Qt's per-folder test macros every test of a Qt level shares one precompiled header with QtTest
  # in it; and it is compiled at -Og (cmake/VornakPch.cmake).
  target_compile_options(${program} PRIVATE ${VORNAK_TEST_OPTIONS})
  if(VORNAK_UNITY)
    set_target_properties(${program} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${VORNAK_TEST_UNITY_BATCH})
    # A test class with a member of a type from its file's anonymous namespace is fine in the one unit that
    # defines it; GCC warns about it only because the unit includes the file instead of compiling it.
    target_compile_options(${program} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
  foreach(name ${ARG_TESTS})
    _vornak_test_moc(${program} ${name} "${CMAKE_CURRENT_SOURCE_DIR}/tests/${name}.cpp")
    add_test(NAME ${name} COMMAND ${program} ${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORNAK_TOOL=$<TARGET_FILE:vornak-tool>;VORNAK_SOURCE_DIR=${PROJECT_SOURCE_DIR};XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache;VORNAK_FIXTURE_CACHE=${VORNAK_FIXTURE_CACHE}"
      TIMEOUT 300)
    foreach(entry ${VORNAK_TEST_COSTS})
      if(entry MATCHES "^${name}=([0-9]+)$")
        set_tests_properties(${name} PROPERTIES COST ${CMAKE_MATCH_1})
      endif()
    endforeach()
  endforeach()
endfunction()

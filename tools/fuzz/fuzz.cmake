# Fuzz targets over the reader's parsers and writers: tools/fuzz/fuzz_<name>.cpp, seeds in corpus/<name>/.
#   VORNAK_FUZZ=ON with clang: libFuzzer binaries tools/fuzz_<name>, the library sources they exercise
#     compiled in with coverage; ctest (label "fuzz") replays each seed corpus once (-runs=0).
#   otherwise: replay programs tools/fuzz_<name>_replay (a plain main linked with the layer libraries)
#     that run the corpus once in every build, the sanitizer build included.
# A campaign of 60 s: build-fuzz/tools/fuzz_<name> -max_total_time=60 tools/fuzz/corpus/<name>
set(VORNAK_FUZZ_DIR ${PROJECT_SOURCE_DIR}/tools/fuzz)

if(VORNAK_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(VORNAK_LIBFUZZER ON)
  add_custom_target(vornak_fuzzers)
else()
  if(VORNAK_FUZZ)
    message(WARNING "VORNAK_FUZZ needs clang (CXX=clang++-14); building corpus replay programs instead")
  endif()
  set(VORNAK_LIBFUZZER OFF)
endif()

#   vornak_add_fuzzer(NAME n SOURCES sources... LIBS libraries... DEPS always...)
# SOURCES are compiled into the libFuzzer binary; the replay program links LIBS instead. DEPS: both.
function(vornak_add_fuzzer)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;DEPS;INCLUDES" ${ARGN})
  set(corpus ${VORNAK_FUZZ_DIR}/corpus/${ARG_NAME})
  if(VORNAK_LIBFUZZER)
    set(exe fuzz_${ARG_NAME})
    set(test ${exe}_corpus)
    add_executable(${exe} ${VORNAK_FUZZ_DIR}/fuzz_${ARG_NAME}.cpp ${ARG_SOURCES})
    target_compile_options(${exe} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_include_directories(${exe} PRIVATE ${ARG_INCLUDES})
    add_dependencies(vornak_fuzzers ${exe})
    add_test(NAME ${test} COMMAND ${exe} -runs=0 ${corpus})
  else()
    set(exe fuzz_${ARG_NAME}_replay)
    set(test ${exe})
    add_executable(${exe} ${VORNAK_FUZZ_DIR}/fuzz_${ARG_NAME}.cpp ${VORNAK_FUZZ_DIR}/replay_main.cpp)
    target_link_libraries(${exe} PRIVATE ${ARG_LIBS})
    add_test(NAME ${test} COMMAND ${exe} ${corpus})
  endif()
  set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
  target_include_directories(${exe} PRIVATE ${VORNAK_FUZZ_DIR})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS})
  set_tests_properties(${test} PROPERTIES LABELS fuzz TIMEOUT 120
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0")
endfunction()

set(_src ${PROJECT_SOURCE_DIR})
set(_catalogue_sources ${_src}/base/uReaderTypes.cpp ${_src}/catalogue/uSqlite.cpp
    ${_src}/catalogue/uReaderData.cpp ${_src}/config/uReaderConfig.cpp ${_src}/config/uIniFile.cpp)

# ResolveExistingPath, the search stem and the export dialog's extension handling. The two dialogs are
# linked as libraries (they need widgets); the catalogue code is compiled in.
if(TARGET catalogue_core AND TARGET catalogue AND TARGET audio)
  vornak_add_fuzzer(NAME paths
    SOURCES ${_catalogue_sources}
    LIBS catalogue_core
    DEPS catalogue audio Qt6::Widgets SQLite::SQLite3
    INCLUDES ${_src}/base ${_src}/catalogue ${_src}/config ${_src}/audio)
endif()

# The settings file's reader and writer.
if(TARGET config_core)
  vornak_add_fuzzer(NAME ini
    SOURCES ${_src}/config/uIniFile.cpp ${_src}/base/uReaderTypes.cpp
    LIBS config_core
    DEPS Qt6::Core
    INCLUDES ${_src}/base ${_src}/catalogue ${_src}/config)
endif()

# The WAV writer, read back by an independent parser.
if(TARGET audio_core AND EXISTS ${_src}/audio/uWavWriter.cpp)
  vornak_add_fuzzer(NAME wav
    SOURCES ${_src}/audio/uWavWriter.cpp ${_src}/base/uReaderTypes.cpp
    LIBS audio_core
    DEPS Qt6::Core
    INCLUDES ${_src}/base ${_src}/catalogue ${_src}/audio)
endif()

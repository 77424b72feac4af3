# Robustness suite: the recorder stand-in's needs, the fault-injection scenario tests and the fuzz targets.
# Every block is guarded so that configure works while a layer is still missing.

# The recorder stand-in writes the catalogue through the SQLite C API.
if(TARGET vornak-tool)
  target_link_libraries(vornak-tool PRIVATE SQLite::SQLite3)
endif()

# Fuzz targets (libFuzzer with VORNAK_FUZZ and clang, else corpus replay programs).
include(${PROJECT_SOURCE_DIR}/tools/fuzz/fuzz.cmake)

# Scenario tests. The settings and audio scenarios drive vornak-tool as a separate process (so that it can be
# killed, starved of disk or left without its output device); they skip while its command is a stub.
vornak_add_tests(TESTS tst_ConfigRobustness LIBS Qt6::Core DIR ${PROJECT_SOURCE_DIR}/config)
add_dependencies(tst_ConfigRobustness vornak-tool)
if(TARGET catalogue_core)
  vornak_add_tests(TESTS tst_CatalogueRobustness LIBS catalogue_core SQLite::SQLite3
                   DIR ${PROJECT_SOURCE_DIR}/catalogue)
  add_dependencies(tst_CatalogueRobustness vornak-tool)
endif()
if(TARGET audio_core)
  vornak_add_tests(TESTS tst_AudioRobustness LIBS audio_core DIR ${PROJECT_SOURCE_DIR}/audio)
  add_dependencies(tst_AudioRobustness vornak-tool)
endif()

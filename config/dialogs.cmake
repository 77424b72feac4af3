# The settings dialog (Qt Widgets) on the settings store and the audio engine's device list.
add_library(config STATIC uReaderSettings.cpp uReaderSettings.h)
target_include_directories(config PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(config PUBLIC config_core audio_core Qt6::Widgets controls)

vornak_add_tests(TESTS tst_uReaderSettings LIBS config)

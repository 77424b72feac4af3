# Range export: the WAV writer and the MP3, OGG and Opus encoders, part of audio_core.
if(TARGET audio_core)
  target_sources(audio_core PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/uAudioExport.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/uEncoder.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/uEncoder.h
    ${CMAKE_CURRENT_SOURCE_DIR}/uExportLoop.h
    ${CMAKE_CURRENT_SOURCE_DIR}/uWavWriter.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/uWavWriter.h)
  vornak_add_tests(TESTS tst_uAudioExport tst_uEncoder LIBS audio_core)
  add_dependencies(tst_uAudioExport vornak-tool)
endif()

# The export dialog (Qt Widgets); it touches no audio.
add_library(audio STATIC uExport.cpp uExport.h)
target_include_directories(audio PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(audio PUBLIC base Qt6::Widgets controls)

vornak_add_tests(TESTS tst_uExport LIBS audio)

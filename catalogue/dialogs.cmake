# The search, picker and metadata dialogs (Qt Widgets) on top of the catalogue access.
add_library(catalogue STATIC
  uReportList.cpp uReportList.h
  uSearch.cpp uSearch.h
  uPickRec.cpp uPickRec.h
  uMeta.cpp uMeta.h)
target_include_directories(catalogue PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(catalogue PUBLIC catalogue_core base Qt6::Widgets controls)

vornak_add_tests(TESTS tst_uSearch tst_uPickRec tst_uMeta LIBS catalogue)

# Demo catalogue and recordings for a first run without a recorder (vornak-tool demo).
add_library(catalogue_demo STATIC uDemo.cpp uDemo.h)
target_include_directories(catalogue_demo PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(catalogue_demo PUBLIC catalogue_core base Qt6::Core)

vornak_add_tests(TESTS tst_uDemo LIBS catalogue_demo catalogue_core)
add_dependencies(tst_uDemo vornak-tool)

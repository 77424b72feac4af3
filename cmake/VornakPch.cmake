# Precompiled headers (VORNAK_PCH, on by default, GCC only): the Qt and standard headers nearly every unit
# includes are parsed three times per build instead of once per source file. Made with debugging
# information, one such header costs about as much processor time as 4 to 8 sources save by it (measured:
# docs, Benchmarks: build), so there is one per Qt level (Core, Gui, Widgets), shared by every library,
# program of that level (REUSE_FROM), and none per target. The tests have their own one per level, the same
# headers and QtTest (every test includes it; they leave out Qt's per-folder test macros for this,
# cmake/VornakTesting.cmake).
# Assigned at the end of the configure run (vornak_pch_finish), when every library a target links is known.
# The fuzz targets get none. With GCC an unusable header is only a warning (-Winvalid-pch) and the source is
# compiled as without it; clang refuses one made with other flags, so with clang there are none.
option(VORNAK_PCH "Precompiled headers for Qt and the standard library" ON)
option(VORNAK_UNITY "Unity build of the libraries (batches of VORNAK_UNITY_BATCH sources)" ON)
set(VORNAK_UNITY_BATCH 8 CACHE STRING "Sources per unity batch")

# What the tests compile with beyond the build's own flags; the tests and their header's holder must agree on it,
# or the header goes unused. Qt's test macros that name the test's own folders (for QFINDTESTDATA, which no
# test uses) are left out, so that one header fits them all. And the tests' own code is compiled at -Og unless
# the build is for a debugger (Debug): a test takes about 60 % of the processor time it takes at -O2, while the
# libraries and programs it exercises keep the build's flags.
set(VORNAK_TEST_OPTIONS -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  list(APPEND VORNAK_TEST_OPTIONS -Og)
endif()

set(VORNAK_PCH_STD <algorithm> <atomic> <chrono> <cmath> <cstdio> <cstring> <functional> <memory> <mutex>
    <string> <vector> <thread>)
set(VORNAK_PCH_CORE <QtCore/QByteArray> <QtCore/QDateTime> <QtCore/QDir> <QtCore/QFile> <QtCore/QFileInfo>
    <QtCore/QList> <QtCore/QObject> <QtCore/QProcess> <QtCore/QString> <QtCore/QStringList>
    <QtCore/QTemporaryDir> <QtCore/QTimer>)
set(VORNAK_PCH_GUI <QtGui/QColor> <QtGui/QFont> <QtGui/QImage> <QtGui/QPainter>)
set(VORNAK_PCH_WIDGETS <QtWidgets/QApplication> <QtWidgets/QCheckBox> <QtWidgets/QComboBox>
    <QtWidgets/QDialog> <QtWidgets/QLabel> <QtWidgets/QLineEdit> <QtWidgets/QPushButton> <QtWidgets/QWidget>)

# Which Qt module of Core < Gui < Widgets the target reaches through its links (directly or not).
function(_vornak_qt_level target out_var)
  set(level 0)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue item)
    if(item IN_LIST seen OR NOT TARGET ${item})
      continue()
    endif()
    list(APPEND seen ${item})
    if(item STREQUAL "Qt6::Widgets")
      set(level 2)
      break()
    elseif(item STREQUAL "Qt6::Gui" OR item STREQUAL "Qt6::Multimedia")
      set(level 1)
    endif()
    get_target_property(imported ${item} IMPORTED)
    if(imported AND item MATCHES "^Qt6::")
      continue()
    endif()
    get_target_property(type ${item} TYPE)
    set(props INTERFACE_LINK_LIBRARIES)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      list(APPEND props LINK_LIBRARIES)
    endif()
    foreach(prop ${props})
      get_target_property(libs ${item} ${prop})
      if(libs)
        foreach(lib ${libs})
          string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
          list(APPEND queue ${lib})
        endforeach()
      endif()
    endforeach()
  endwhile()
  set(${out_var} ${level} PARENT_SCOPE)
endfunction()

function(_vornak_pch_headers level out_var)
  set(headers ${VORNAK_PCH_STD} ${VORNAK_PCH_CORE})
  if(level GREATER_EQUAL 1)
    list(APPEND headers ${VORNAK_PCH_GUI})
  endif()
  if(level GREATER_EQUAL 2)
    list(APPEND headers ${VORNAK_PCH_WIDGETS})
  endif()
  set(${out_var} ${headers} PARENT_SCOPE)
endfunction()

# The shared header of one Qt level (0 Core, 1 Gui, 2 Widgets), made once by a small library of its own;
# for the tests (kind "test") with QtTest too.
function(_vornak_pch_holder level kind out_var)
  set(holder vornak_pch_${kind}${level})
  if(NOT TARGET ${holder})
    add_library(${holder} STATIC ${PROJECT_SOURCE_DIR}/cmake/pch_holder.cpp)
    set_target_properties(${holder} PROPERTIES AUTOMOC OFF)
    set(qt Qt6::Core)
    if(level EQUAL 1)
      set(qt Qt6::Gui)
    elseif(level EQUAL 2)
      set(qt Qt6::Widgets)
    endif()
    target_link_libraries(${holder} PRIVATE ${qt})
    _vornak_pch_headers(${level} headers)
    if(kind STREQUAL "test")
      target_link_libraries(${holder} PRIVATE Qt6::Test)
      if(level GREATER_EQUAL 1)
        target_link_libraries(${holder} PRIVATE Qt6::Network)
      endif()
      target_compile_options(${holder} PRIVATE ${VORNAK_TEST_OPTIONS})
      list(APPEND headers <QtTest/QSignalSpy> <QtTest/QTest>)
    endif()
    target_precompile_headers(${holder} PRIVATE ${headers})
  endif()
  set(${out_var} ${holder} PARENT_SCOPE)
endfunction()

# What moc has to do for a target: 0 nothing (no source or header beside a source declares Q_OBJECT, Q_GADGET
# or Q_NAMESPACE), 1 only for sources that include their own .moc, 2 for headers too.
function(_vornak_moc_need target out_var)
  get_target_property(dir ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  set(need 0)
  foreach(source ${sources})
    if(NOT IS_ABSOLUTE "${source}")
      set(source ${dir}/${source})
    endif()
    set(files "")
    if(source MATCHES "\\.(h|hpp)$")
      list(APPEND files ${source})
    elseif(source MATCHES "\\.(cpp|cc|cxx)$")
      list(APPEND files ${source})
      string(REGEX REPLACE "\\.[^.]+$" ".h" header ${source})
      list(APPEND files ${header})
    endif()
    foreach(file ${files})
      if(NOT EXISTS ${file})
        continue()
      endif()
      file(STRINGS ${file} macros REGEX "Q_(OBJECT|GADGET|NAMESPACE)")
      if(macros)
        if(file MATCHES "\\.(h|hpp)$")
          set(${out_var} 2 PARENT_SCOPE)
          return()
        endif()
        set(need 1)
      endif()
    endforeach()
  endforeach()
  set(${out_var} ${need} PARENT_SCOPE)
endfunction()

# A target with nothing to moc, or whose moc output is all included by its own sources, compiles
# its then empty mocs_compilation.cpp without the precompiled header (reading the header took about a
# processor second per target, for nothing). moc itself still runs for every target: a Q_OBJECT added later
# to a header makes that file non-empty without a new configure run, and it then compiles, only slower.
function(_vornak_moc_trim target)
  get_target_property(automoc ${target} AUTOMOC)
  if(NOT automoc)
    return()
  endif()
  _vornak_moc_need(${target} need)
  if(need LESS 2)
    get_target_property(bindir ${target} BINARY_DIR)
    set_source_files_properties(${bindir}/${target}_autogen/mocs_compilation.cpp TARGET_DIRECTORY ${target}
                                PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()
endfunction()

# Sources whose file-local helpers share a name with those of another source of their library are compiled on
# their own in a unity build (target:source).
set(VORNAK_UNITY_ALONE audio_export:audio/export/uEvidenceCheck.cpp archive_core:tools/archive/uFixity.cpp)

# Called once at the end of the top CMakeLists.txt.
function(vornak_pch_finish)
  set(users "")
  set(dirs ${PROJECT_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$" OR target MATCHES "^vornak_pch_")
        continue()
      endif()
      _vornak_moc_trim(${target})
      if(type STREQUAL "OBJECT_LIBRARY" OR target MATCHES "^fuzz_")
        continue()
      endif()
      if(VORNAK_UNITY AND type STREQUAL "STATIC_LIBRARY")
        set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${VORNAK_UNITY_BATCH})
      endif()
      list(APPEND users ${target})
    endforeach()
  endwhile()
  if(VORNAK_UNITY)
    foreach(entry ${VORNAK_UNITY_ALONE})
      string(REPLACE ":" ";" targetAndSource ${entry})
      list(GET targetAndSource 0 target)
      list(GET targetAndSource 1 source)
      set_source_files_properties(${PROJECT_SOURCE_DIR}/${source} TARGET_DIRECTORY ${target}
                                  PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endforeach()
  endif()
  if(NOT VORNAK_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return()
  endif()
  foreach(target ${users})
    _vornak_qt_level(${target} level)
    get_target_property(links ${target} LINK_LIBRARIES)
    set(kind "")
    if("Qt6::Test" IN_LIST links)
      set(kind "test")
      # QtTest has more to offer when Qt Network is there, and Qt Multimedia brings it to most tests of the
      # Gui and Widgets level: every test of those levels links it, so that one header fits them all.
      if(level GREATER_EQUAL 1)
        target_link_libraries(${target} PRIVATE Qt6::Network)
      endif()
    endif()
    _vornak_pch_holder(${level} "${kind}" holder)
    target_precompile_headers(${target} REUSE_FROM ${holder})
  endforeach()
endfunction()

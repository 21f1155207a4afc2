# Windows side (MinGW cross build): the portable core and the Win32 code in
# one static library, the program itself, and the Windows test programs that
# ctest runs under Wine through scripts/wine-run.
enable_language(RC)

set(CV_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type)
set(CV_STATIC_LINK -static -static-libgcc -static-libstdc++)
# The program links only DLLs that Windows always loads from its system
# folder (its KnownDLLs); any other DLL it needs is loaded at run time by full
# path (src/base/system_dll_win.h). Linking them here would let a planted
# copy beside the program be taken instead, so a stray use of one of their
# functions must fail to link rather than add an import.
set(CV_SYSTEM_LIBS ws2_32 ole32 oleaut32 uuid shell32 advapi32 user32 gdi32 kernel32)
# The test programs may call such DLLs directly.
set(CV_TEST_SYSTEM_LIBS comctl32 version)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run)

add_library(cvwin STATIC ${CV_PORTABLE_SOURCES} ${CV_WIN_SOURCES})
target_include_directories(cvwin PUBLIC ${CV_INCLUDE_DIR})
target_compile_definitions(cvwin PUBLIC WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0501 NOMINMAX)
target_compile_options(cvwin PRIVATE ${CV_WARNINGS})
target_link_libraries(cvwin PUBLIC ${CV_SYSTEM_LIBS})

# The resources (dialogs, string table, menu, icon, version) go into the
# program and into every Windows test program, which load them by id.
add_library(cvres OBJECT ${PROJECT_SOURCE_DIR}/src/resources/cvget.rc)
# The resource compiler's scan misses the files the script pulls in whole.
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/resources/cvget.rc PROPERTIES OBJECT_DEPENDS
  "${PROJECT_SOURCE_DIR}/src/resources/cvget.manifest;${PROJECT_SOURCE_DIR}/src/resources/cvget.ico")
target_include_directories(cvres PRIVATE ${PROJECT_SOURCE_DIR}/src/resources)

add_executable(cvget WIN32 ${CV_MAIN_SOURCE} $<TARGET_OBJECTS:cvres>)
target_link_libraries(cvget PRIVATE cvwin)
target_link_options(cvget PRIVATE ${CV_STATIC_LINK} -mwindows)

option(CV_WIN_TESTS "Build the Windows test programs" ON)
if(NOT CV_WIN_TESTS)
  return()
endif()

# GoogleTest from Debian's source package, cross-built.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Unix path of a file as a Windows program under Wine sees it (drive Z:).
function(cv_wine_path path out)
  string(REPLACE "/" "\\" p "${path}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

cv_test_areas(win CV_WIN_AREAS)
foreach(area ${CV_WIN_AREAS})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/${area}/*.cpp)
  add_executable(win_${area} ${srcs} $<TARGET_OBJECTS:cvres>)
  target_include_directories(win_${area} PRIVATE ${PROJECT_SOURCE_DIR}/tests/win)
  target_link_libraries(win_${area} PRIVATE cvwin gtest_main gmock ${CV_TEST_SYSTEM_LIBS})
  target_link_options(win_${area} PRIVATE ${CV_STATIC_LINK})
  cv_wine_path(${CV_RESULTS_DIR}/win_${area}.xml xml)
  add_test(NAME win_${area} COMMAND win_${area} --gtest_output=xml:${xml})
  set_tests_properties(win_${area} PROPERTIES LABELS win
    ENVIRONMENT "CV_SOURCE_DIR=${PROJECT_SOURCE_DIR};CV_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  # Helper programs and DLLs an area's tests need (built beside the tests).
  if(EXISTS ${PROJECT_SOURCE_DIR}/tests/win/${area}/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/win/${area} ${CMAKE_BINARY_DIR}/tests-win-${area})
  endif()
  # Test data an area makes at test time (archives and the like): its
  # make_test_data.sh runs natively before the area's tests, with the data
  # folder and the bin folder as arguments; the tests find the folder in
  # CV_TEST_DATA.
  if(EXISTS ${PROJECT_SOURCE_DIR}/tests/win/${area}/make_test_data.sh)
    set(data ${CMAKE_BINARY_DIR}/test-data/${area})
    add_test(NAME win_${area}_data
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/win/${area}/make_test_data.sh ${data} ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(win_${area}_data PROPERTIES LABELS win FIXTURES_SETUP win_${area}_data)
    set_tests_properties(win_${area} PROPERTIES FIXTURES_REQUIRED win_${area}_data)
    set_property(TEST win_${area} APPEND PROPERTY ENVIRONMENT "CV_TEST_DATA=${data}")
  endif()
endforeach()

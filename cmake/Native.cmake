# Native (Linux) side: the portable core twice (plain for tools and
# benchmarks, sanitized for the unit tests), the unit tests and fuzz targets.
find_package(Threads REQUIRED)
set(CV_WARNINGS -Wall -Wextra -Wno-unused-parameter)

# libFuzzer targets need clang; they live in their own tree (build/fuzz),
# configured with CV_FUZZ=ON and CC/CXX set to clang. That tree builds only them.
if(CV_FUZZ)
  file(GLOB fuzz_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuzz/*.cpp)
  set(FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_library(cvcore_fuzz STATIC ${CV_PORTABLE_SOURCES} ${CV_POSIX_SOURCES})
  target_include_directories(cvcore_fuzz PUBLIC ${CV_INCLUDE_DIR})
  target_compile_options(cvcore_fuzz PUBLIC ${FUZZ_FLAGS})
  target_link_libraries(cvcore_fuzz PUBLIC Threads::Threads)
  foreach(f ${fuzz_srcs})
    get_filename_component(name ${f} NAME_WE)
    add_executable(${name} ${f})
    target_link_libraries(${name} PRIVATE cvcore_fuzz)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
  return()
endif()

find_package(GTest REQUIRED)

set(CV_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)

add_library(cvcore STATIC ${CV_PORTABLE_SOURCES} ${CV_POSIX_SOURCES})
target_include_directories(cvcore PUBLIC ${CV_INCLUDE_DIR})
target_compile_options(cvcore PRIVATE ${CV_WARNINGS})
target_link_libraries(cvcore PUBLIC Threads::Threads)

add_library(cvcore_san STATIC ${CV_PORTABLE_SOURCES} ${CV_POSIX_SOURCES})
target_include_directories(cvcore_san PUBLIC ${CV_INCLUDE_DIR})
target_compile_options(cvcore_san PRIVATE ${CV_WARNINGS} PUBLIC ${CV_SAN_FLAGS})
target_link_options(cvcore_san PUBLIC ${CV_SAN_FLAGS})
target_link_libraries(cvcore_san PUBLIC Threads::Threads)

cv_test_areas(unit CV_UNIT_AREAS)
foreach(area ${CV_UNIT_AREAS})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/${area}/*.cpp)
  add_executable(unit_${area} ${srcs})
  target_include_directories(unit_${area} PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit)
  target_link_libraries(unit_${area} PRIVATE cvcore_san GTest::gtest_main GTest::gmock)
  add_test(NAME unit_${area}
           COMMAND unit_${area} --gtest_output=xml:${CV_RESULTS_DIR}/unit_${area}.xml)
  set_tests_properties(unit_${area} PROPERTIES LABELS unit
    ENVIRONMENT "CV_SOURCE_DIR=${PROJECT_SOURCE_DIR};CV_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  if(EXISTS ${PROJECT_SOURCE_DIR}/tests/unit/${area}/CMakeLists.txt)
    add_subdirectory(${PROJECT_SOURCE_DIR}/tests/unit/${area} ${CMAKE_BINARY_DIR}/tests-unit-${area})
  endif()
endforeach()


# The test run's own summary: a tier that ran nothing must fail the run.
find_program(CV_PYTHON3_NATIVE python3)
if(CV_PYTHON3_NATIVE)
  add_test(NAME unit_test_summary COMMAND ${CV_PYTHON3_NATIVE} ${PROJECT_SOURCE_DIR}/tests/scripts/summary_test.py)
  set_tests_properties(unit_test_summary PROPERTIES LABELS unit)
  add_test(NAME unit_layers COMMAND ${CV_PYTHON3_NATIVE} ${PROJECT_SOURCE_DIR}/tests/scripts/layers_test.py)
  set_tests_properties(unit_layers PROPERTIES LABELS unit)
  add_test(NAME unit_readme COMMAND ${CV_PYTHON3_NATIVE} ${PROJECT_SOURCE_DIR}/tests/scripts/readme_test.py
    $<TARGET_FILE:cvpack>)
  set_tests_properties(unit_readme PROPERTIES LABELS unit)
endif()

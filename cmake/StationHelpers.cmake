# Small helpers shared by the test, fuzz and benchmark folders.

# station_add_subdirectories(<dir>): add every child folder of <dir> that has a
# CMakeLists.txt, so each area owns its own list without touching the parent.
function(station_add_subdirectories dir)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS "${dir}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY "${child}" AND EXISTS "${child}/CMakeLists.txt")
      add_subdirectory("${child}")
    endif()
  endforeach()
endfunction()

# station_gtest(<name> SOURCES ... [LIBS ...] [NO_STATION] [TEST_PREFIX <prefix>]):
# a GoogleTest executable linked against the station core and the shared test
# support, its cases registered with CTest one by one. NO_STATION leaves the
# station core out, for tests of the emulator that link only its objects.
function(station_gtest name)
  cmake_parse_arguments(ARG "NO_STATION" "TEST_PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(NOT ARG_NO_STATION)
    target_link_libraries(${name} PRIVATE station_core)
  endif()
  target_link_libraries(${name} PRIVATE station_test_support GTest::gtest GTest::gmock GTest::gtest_main ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    STATION_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    STATION_BINARY_DIR="${CMAKE_BINARY_DIR}"
    STATION_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "${ARG_TEST_PREFIX}"
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# station_fuzz(<name> SOURCES ... [PURE_SOURCES ...] [SECONDS n] [NO_STATION]
#              [INCLUDES ...] [LIBS ...] [CORPUS dir] [TEST_NAME name]
#              [MAX_LEN bytes]): a libFuzzer target
# built with AddressSanitizer and UndefinedBehaviorSanitizer. The code under
# test is compiled again with the same instrumentation (it cannot be taken from
# the uninstrumented core library). Registered as a short CTest smoke run
# (fuzz.<name> unless TEST_NAME says) over its seed corpus, tests/fuzz/<name>/
# unless CORPUS says. NO_STATION keeps the station's folders off the include
# path (emulator code fuzzed on its own). LIBS are linked as they are, for
# what the target does not exercise itself (their code is not instrumented
# for coverage). MAX_LEN raises libFuzzer's input cap (4,096 bytes by default)
# for targets whose inputs are streams.
function(station_fuzz name)
  if(NOT STATION_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "NO_STATION" "SECONDS;CORPUS;TEST_NAME;MAX_LEN" "SOURCES;INCLUDES;LIBS" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 10)
  endif()
  if(NOT ARG_CORPUS)
    set(ARG_CORPUS "${CMAKE_SOURCE_DIR}/tests/fuzz/${name}")
  endif()
  if(NOT ARG_TEST_NAME)
    set(ARG_TEST_NAME fuzz.${name})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(NOT ARG_NO_STATION)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
  endif()
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set(max_len)
  if(ARG_MAX_LEN)
    set(max_len -max_len=${ARG_MAX_LEN})
  endif()
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g -O1)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_test(NAME ${ARG_TEST_NAME}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
            $<TARGET_FILE:${name}> -max_total_time=${ARG_SECONDS} -timeout=5 -rss_limit_mb=2048 ${max_len}
            -print_final_stats=0 -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz/${name}- ${CMAKE_BINARY_DIR}/fuzz/${name}-work ${ARG_CORPUS})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/${name}-work)
endfunction()

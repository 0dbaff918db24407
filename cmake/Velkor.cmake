# Shared build settings of the project's own targets.

set(VELKOR_WARNINGS -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false -Wrestrict/-Wstringop-overflow in libstdc++'s std::string at -O2.
  list(APPEND VELKOR_WARNINGS -Wno-restrict -Wno-stringop-overflow)
endif()

if(VELKOR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELKOR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELKOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELKOR_SANITIZE must be address, thread or empty")
endif()

# velkor_library(name SOURCES... [DEPS ...]) : a static library of one subsystem folder
function(velkor_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${VELKOR_WARNINGS})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# velkor_test(name SOURCES... [DEPS ...] [LABELS ...] [QT])
#   QT: the test runs window code headless (offscreen platform, QApplication main).
#   LABELS "threaded" marks tests that the TSan build runs too.
function(velkor_test name)
  cmake_parse_arguments(A "QT" "" "SOURCES;DEPS;LABELS" ${ARGN})
  # The thread-sanitizer build compiles only the tests that cross threads.
  if(VELKOR_THREADED_TESTS_ONLY AND NOT "threaded" IN_LIST A_LABELS)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${VELKOR_WARNINGS})
  if(A_QT)
    target_link_libraries(${name} PRIVATE ${A_DEPS} velkor_test_qtmain GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest_main GTest::gmock)
  endif()
  # One variable per ENVIRONMENT entry: a ";" list would be split apart by test discovery.
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
            ENVIRONMENT_MODIFICATION "VELKOR_SOURCE_DIR=set:${PROJECT_SOURCE_DIR}")
  if(A_LABELS)
    list(APPEND props LABELS "${A_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# Shared build settings and helpers for every subsystem.

set(CMAKE_AUTOMOC ON)

add_compile_options(-Wall -Wextra)
if(ORVANE_WERROR)
  add_compile_options(-Werror)
endif()
add_compile_definitions(QT_NO_KEYWORDS _GLIBCXX_ASSERTIONS)

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# orvane_library(NAME SOURCES ... [LIBS ...])
# A static library for one subsystem; its folder's parent (src/) is the include root.
function(orvane_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# orvane_test(NAME SOURCES ... [LIBS ...] [TIMEOUT s] [DBUS] [ENV k=v ...])
# One GoogleTest executable registered with CTest under a time-out.
# DBUS runs it inside a private session bus.
function(orvane_test name)
  cmake_parse_arguments(A "DBUS" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(A_DBUS)
    add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;ORVANE_PROBE_URLS=http://127.0.0.1:9/;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1;${A_ENV}")
endfunction()

# orvane_fuzz(NAME SOURCES ... [LIBS ...] CORPUS dir)
# With ORVANE_FUZZ (clang) a libFuzzer target; otherwise a replay program that
# feeds every file of the seed corpus to the same entry point, run as a test.
function(orvane_fuzz name)
  cmake_parse_arguments(A "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(ORVANE_FUZZ)
    add_executable(${name} ${A_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${A_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    add_test(NAME ${name}_corpus COMMAND ${name} ${A_CORPUS})
    set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 300)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# orvane_stage_dir(SRC DEST): copy a data folder into the application folder at build time.
function(orvane_stage_dir target src dest)
  add_custom_target(${target} ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${src} ${ORVANE_STAGE_DIR}/${dest}
    COMMENT "Staging ${dest}")
endfunction()

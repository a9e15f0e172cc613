# Shared build settings and helpers for every subsystem.

# moc runs only for targets with Qt objects (orvane_automoc below): scanning every
# target's sources costs build time for nothing.
set(CMAKE_AUTOMOC OFF)

# A compiler cache makes a rebuild of an unchanged tree, or of another checkout of it
# (scripts/build sets the cache's base folder), cost seconds instead of minutes.
option(ORVANE_CCACHE "Compile through ccache when it is installed" ON)
find_program(ORVANE_CCACHE_PROGRAM ccache)
if(ORVANE_CCACHE AND ORVANE_CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ORVANE_CCACHE_PROGRAM})
endif()

add_compile_options(-Wall -Wextra)
if(ORVANE_WERROR)
  add_compile_options(-Werror)
endif()
add_compile_definitions(QT_NO_KEYWORDS _GLIBCXX_ASSERTIONS)

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzzer needs coverage feedback from the code under test, not only from the
# harness: every library is instrumented, only the fuzz executables get the driver.
if(ORVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()

# Turns moc on for a target whose sources, or the headers beside them, declare Q_OBJECT
# classes, or when asked (AUTOMOC), e.g. for a header without a source of the same name.
function(orvane_automoc target force)
  set(moc "${force}")
  get_target_property(dir ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  foreach(src ${sources})
    cmake_path(ABSOLUTE_PATH src BASE_DIRECTORY ${dir})
    cmake_path(REPLACE_EXTENSION src LAST_ONLY .h OUTPUT_VARIABLE header)
    foreach(f ${src} ${header})
      if(NOT moc AND EXISTS ${f} AND NOT IS_DIRECTORY ${f})
        file(STRINGS ${f} hits REGEX "Q_OBJECT|Q_GADGET|Q_NAMESPACE" LIMIT_COUNT 1)
        if(hits)
          set(moc ON)
        endif()
      endif()
    endforeach()
  endforeach()
  if(moc)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# orvane_library(NAME SOURCES ... [LIBS ...] [AUTOMOC])
# A static library for one subsystem; its folder's parent (src/) is the include root.
function(orvane_library name)
  cmake_parse_arguments(A "AUTOMOC" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  orvane_automoc(${name} "${A_AUTOMOC}")
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# orvane_test(NAME SOURCES ... [LIBS ...] [TIMEOUT s] [DBUS] [WEBENGINE] [AUTOMOC] [ENV k=v ...])
# One GoogleTest executable registered with CTest under a time-out.
# DBUS runs it inside a private session bus. WEBENGINE (implied by linking the web engine or
# the browser library) labels it "webengine", which the sanitizer run leaves out.
option(ORVANE_WEBENGINE_TESTS "Build and register the tests that start the web engine" ON)

function(orvane_test name)
  cmake_parse_arguments(A "DBUS;AUTOMOC;WEBENGINE" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  if("Qt6::WebEngineWidgets" IN_LIST A_LIBS OR "orvane_ui_web" IN_LIST A_LIBS)
    set(A_WEBENGINE ON)
  endif()
  # A run that leaves the web engine out (the sanitizer run) need not compile those tests;
  # the target stays defined so that the folders' own settings for it still apply.
  if(A_WEBENGINE AND NOT ORVANE_WEBENGINE_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${A_SOURCES})
  else()
    add_executable(${name} ${A_SOURCES})
    set_property(GLOBAL APPEND PROPERTY ORVANE_TESTS_NEED ${name})
  endif()
  orvane_automoc(${name} "${A_AUTOMOC}")
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} orvane_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  if(TARGET orvane_test_pch)
    target_precompile_headers(${name} REUSE_FROM orvane_test_pch)
  endif()
  if(A_WEBENGINE AND NOT ORVANE_WEBENGINE_TESTS)
    return()
  endif()
  if(A_DBUS)
    add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(A_WEBENGINE)
    set_tests_properties(${name} PROPERTIES LABELS webengine)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/no-wine-prefix;QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;ORVANE_PROBE_URLS=http://127.0.0.1:9/;ASAN_OPTIONS=detect_leaks=0;UBSAN_OPTIONS=print_stacktrace=1;${A_ENV}")
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
    set_property(GLOBAL APPEND PROPERTY ORVANE_TESTS_NEED ${name})
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
  set_property(GLOBAL APPEND PROPERTY ORVANE_TESTS_NEED ${target})
endfunction()

# add_glanto_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>] [LABELS <labels...>]
#                 [TIMEOUT <seconds>] [ASAN_TIMEOUT <seconds>] [CORPUS])
#
# One GoogleTest executable per unit, registered with CTest. Every test gets a
# private HOME and XDG directories under the build tree so that settings,
# caches and the trash never touch the developer's own.
#
# With CORPUS the executable also holds sweeps over the full test corpus, in
# suites whose name ends in "Corpus". They are registered as a second test,
# <name>_corpus, which ctest reports as skipped when no corpus is found (the
# sweeps skip themselves and say how to point GLANTO_CORPUS_DIR at one); <name>
# runs everything else, on the photos bundled in tests/data/photos.
#
# ASAN_TIMEOUT replaces the sanitized builds' fourfold time in the
# AddressSanitizer build (scripts/asan) only, for tests whose unoptimised,
# instrumented run needs more.
find_package(GTest REQUIRED)

# Looked for at run time (the environment's GLANTO_CORPUS_DIR wins); a folder
# without manifest.tsv, or none, means the corpus sweeps are skipped.
set(GLANTO_CORPUS_DIR "${CMAKE_SOURCE_DIR}/../shared/corpus" CACHE PATH "Shared image corpus")

function(add_glanto_test name)
  cmake_parse_arguments(T "CORPUS" "TIMEOUT;ASAN_TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Qt6::Core)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  target_compile_definitions(${name} PRIVATE
    GLANTO_CORPUS_DIR="${GLANTO_CORPUS_DIR}"
    GLANTO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    GLANTO_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  set(tests ${name})
  if(T_CORPUS)
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=-*Corpus.*)
    add_test(NAME ${name}_corpus COMMAND ${name} --gtest_filter=*Corpus.*)
    set_tests_properties(${name}_corpus PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
    list(APPEND tests ${name}_corpus)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  foreach(test IN LISTS tests)
    set(home "${CMAKE_BINARY_DIR}/test-home/${test}")
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_CACHE_HOME=${home}/.cache;XDG_DATA_HOME=${home}/.local/share;QT_QPA_PLATFORM=offscreen;GLANTO_LANG=zh;${T_ENV}")
    set(timeout 300)
    if(T_TIMEOUT)
      set(timeout ${T_TIMEOUT})
    endif()
    # Sanitized builds run several times slower.
    if(GLANTO_ASAN OR GLANTO_TSAN)
      math(EXPR timeout "${timeout} * 4")
    endif()
    if(GLANTO_ASAN AND T_ASAN_TIMEOUT)
      set(timeout ${T_ASAN_TIMEOUT})
    endif()
    set_tests_properties(${test} PROPERTIES TIMEOUT ${timeout})
    if(T_LABELS)
      set_tests_properties(${test} PROPERTIES LABELS "${T_LABELS}")
      # Tests that drive a real window with xdotool count on timely event
      # delivery: they run alone, not beside a CPU-heavy test.
      if("x11" IN_LIST T_LABELS OR "xvfb" IN_LIST T_LABELS)
        set_tests_properties(${test} PROPERTIES RUN_SERIAL TRUE)
      endif()
    endif()
  endforeach()
endfunction()

# add_glanto_test(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>] [LABELS <labels...>])
#
# One GoogleTest executable per unit, registered with CTest. Every test gets a
# private HOME and XDG directories under the build tree so that settings,
# caches and the trash never touch the developer's own.
find_package(GTest REQUIRED)

set(GLANTO_CORPUS_DIR "${CMAKE_SOURCE_DIR}/../shared/corpus" CACHE PATH "Shared image corpus")

function(add_glanto_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Qt6::Core)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  target_compile_definitions(${name} PRIVATE
    GLANTO_CORPUS_DIR="${GLANTO_CORPUS_DIR}"
    GLANTO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    GLANTO_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
  add_test(NAME ${name} COMMAND ${name})
  set(home "${CMAKE_BINARY_DIR}/test-home/${name}")
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_CACHE_HOME=${home}/.cache;XDG_DATA_HOME=${home}/.local/share;QT_QPA_PLATFORM=offscreen;GLANTO_LANG=zh;${T_ENV}")
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# Windows test programs, run by CTest under 32-bit wine.
#
#   tw_add_wine_test(NAME <name> SOURCES <files>... [LIBRARIES <targets>...]
#                    [MODULES <targets>...] [ARGS <args>...] [TIMEOUT <seconds>])
#
# Builds <name>.exe with GoogleTest (gtest_main) and registers it as ONE CTest
# test (starting wine costs seconds, so a program is not split into a test per
# case). MODULES are copied beside the program, where it finds them by its
# own path, as it would on Windows. Every wine test runs in the build tree's
# own wine prefix and home folder (${CMAKE_BINARY_DIR}/wine), made once per
# build tree by the fixture test wine_prefix, one at a time, since they share
# the prefix. Run under an X server (`xvfb-run -a ctest --preset windows`)
# they share one wine session; otherwise each gets a virtual X server and a
# session of its own (cmake/wine-test).

find_program(TW_WINE wine)
find_program(TW_XVFB_RUN xvfb-run)
set(TW_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(TW_WINE_TEST ${CMAKE_CURRENT_LIST_DIR}/wine-test)

if(TW_WINE AND TW_XVFB_RUN)
  set(TW_WINE_TESTS ON)
  add_test(NAME wine_prefix COMMAND ${TW_WINE_TEST} setup ${TW_WINE_DIR})
  # Creating a prefix takes a while, far longer under emulation.
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wine_prefix TIMEOUT 2400)
  add_test(NAME wine_session_end COMMAND ${TW_WINE_TEST} end ${TW_WINE_DIR})
  set_tests_properties(wine_session_end PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wine_prefix TIMEOUT 120)
else()
  set(TW_WINE_TESTS OFF)
  message(WARNING "wine or xvfb-run not found: the Windows tests are built but not run "
                  "(./scripts/install-deps installs them)")
endif()

function(tw_add_wine_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;TIMEOUT" "SOURCES;LIBRARIES;MODULES;ARGS")
  if(NOT arg_NAME OR NOT arg_SOURCES)
    message(FATAL_ERROR "tw_add_wine_test: NAME and SOURCES are required")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 600)
  endif()

  add_executable(${arg_NAME} ${arg_SOURCES})
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  # Copied again whenever a module is rebuilt, even when the program is not.
  set(copies "")
  foreach(module IN LISTS arg_MODULES)
    # The file name without generator expressions, which OUTPUT cannot take.
    get_target_property(prefix ${module} PREFIX)
    get_target_property(name ${module} OUTPUT_NAME)
    get_target_property(suffix ${module} SUFFIX)
    if(prefix MATCHES "-NOTFOUND$")
      set(prefix ${CMAKE_SHARED_MODULE_PREFIX})
    endif()
    if(NOT name)
      set(name ${module})
    endif()
    if(NOT suffix)
      set(suffix ${CMAKE_SHARED_MODULE_SUFFIX})
    endif()
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/${prefix}${name}${suffix})
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${copy}
      DEPENDS ${module} $<TARGET_FILE:${module}>
      VERBATIM)
    list(APPEND copies ${copy})
  endforeach()
  if(copies)
    add_custom_target(${arg_NAME}_modules DEPENDS ${copies})
    add_dependencies(${arg_NAME} ${arg_NAME}_modules)
  endif()

  if(TW_WINE_TESTS)
    add_test(NAME ${arg_NAME} COMMAND ${TW_WINE_TEST} run ${TW_WINE_DIR} $<TARGET_FILE:${arg_NAME}> ${arg_ARGS})
    set_tests_properties(${arg_NAME} PROPERTIES
      FIXTURES_REQUIRED wine RESOURCE_LOCK wine_prefix TIMEOUT ${arg_TIMEOUT})
  endif()
endfunction()

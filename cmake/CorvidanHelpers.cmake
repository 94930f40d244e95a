# corvidan_add_test(<name> [CORE] SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l] [FIXTURES f] [TIMEOUT s])
# One GoogleTest executable registered with CTest as a whole (one process per suite
# keeps the offscreen Qt application and the fixtures cheap).
# CORE: a suite of UI-free code; links a QCoreApplication main and TempAppDir only,
# so it builds without the windows.
function(corvidan_add_test name)
  cmake_parse_arguments(T "CORE" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_CORE)
    corvidan_core_test_support()
    target_link_libraries(${name} PRIVATE ${T_LIBS} corvidan_test_support_core GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} corvidan_test_support GTest::gtest)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVIDAN_SOURCE_DIR=${CMAKE_SOURCE_DIR};CORVIDAN_BUILD_DIR=${CMAKE_BINARY_DIR};CORVIDAN_APPDIR=${CORVIDAN_APPDIR}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_FIXTURES)
    # The servers share one mailbox: suites that use them take turns.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}"
      RESOURCE_LOCK dovecot_mailbox)
  endif()
endfunction()

# The test support of CORE suites, made once on first use.
function(corvidan_core_test_support)
  if(TARGET corvidan_test_support_core)
    return()
  endif()
  set(dir ${CMAKE_SOURCE_DIR}/tests/support)
  add_library(corvidan_test_support_core STATIC ${dir}/TestMainCore.cpp ${dir}/TempAppDir.cpp ${dir}/TempAppDir.h
    ${dir}/ScriptedMailbox.cpp ${dir}/ScriptedMailbox.h)
  target_include_directories(corvidan_test_support_core PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(corvidan_test_support_core PUBLIC corvidan_common corvidan_transport corvidan_texts GTest::gtest)
  target_compile_definitions(corvidan_test_support_core PUBLIC
    CORVIDAN_SOURCE_DIR="${CMAKE_SOURCE_DIR}" CORVIDAN_BUILD_DIR="${CMAKE_BINARY_DIR}")
endfunction()

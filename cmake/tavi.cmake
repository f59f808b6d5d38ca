# Adds every direct child folder of DIR that has a CMakeLists.txt, so each
# area can bring its own tools, tests and benchmarks without touching others.
function(tavi_add_children dir)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir} ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
    return()
  endif()
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${dir}/${child})
    endif()
  endforeach()
endfunction()

# tavi_add_test(NAME SOURCES a.cpp b.cpp LIBS x y [TIMEOUT s] [LABELS l] [WRAPPER cmd args])
# A QtTest executable run by ctest in its own scratch folder (inside WRAPPER,
# e.g. a script that makes a desktop session for it).
function(tavi_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tavi_testsupport Qt5::Test)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(work ${CMAKE_BINARY_DIR}/testwork/${name})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> WORKING_DIRECTORY ${work})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TAVI_LANG=zh;TAVI_STAGE_DIR=${TAVI_STAGE_DIR};TAVI_BINARY_DIR=${CMAKE_BINARY_DIR};TAVI_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# tavi_checking_allocator(TEST): the test runs on glibc's checking allocator,
# which aborts at the free of a block that anything, FFmpeg's own unchecked
# code included, wrote past. Not under AddressSanitizer: its own allocator's
# wide red zones would hide such a write.
function(tavi_checking_allocator test)
  if(TAVI_ASAN)
    return()
  endif()
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libc_malloc_debug.so.0
                  OUTPUT_VARIABLE malloc_debug OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${malloc_debug}" AND EXISTS "${malloc_debug}")
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "LD_PRELOAD=${malloc_debug};MALLOC_CHECK_=3")
  endif()
endfunction()

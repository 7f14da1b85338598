# The MP3 export: pure checks, the job on real files with its message boxes, and the fuzz run.
voxtrel_add_test_program(export_tests
  SOURCES unit/export_tests.cpp unit/export_join_tests.cpp unit/export_fuzz_tests.cpp unit/export_test_helpers.cpp
  LIBRARIES voxtrel_export)

# The exported MP3 decoded by a Linux decoder, and a real disk-full, driven from the Linux side.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND AND CMAKE_CROSSCOMPILING)
  foreach(mode decode disk-full parallel)
    add_test(NAME ExportLinux.${mode}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/unit/export_decode_check.py
              $<TARGET_FILE:export_bench> ${mode})
    set_tests_properties(ExportLinux.${mode} PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endforeach()
endif()

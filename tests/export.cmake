# The MP3 export: pure checks, the job on real files with its message boxes, and the fuzz run.
voxtrel_add_test_program(export_tests
  SOURCES unit/export_tests.cpp unit/export_fuzz_tests.cpp unit/export_test_helpers.cpp
  LIBRARIES voxtrel_export)

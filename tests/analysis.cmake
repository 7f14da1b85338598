voxtrel_add_test_program(analysis_tests SOURCES unit/analysis_tests.cpp
  LIBRARIES voxtrel_analysis LOCKS debug_output)

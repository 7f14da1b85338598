voxtrel_add_test_program(recording_tests SOURCES unit/recording_tests.cpp
  LIBRARIES voxtrel_recording LOCKS debug_output)

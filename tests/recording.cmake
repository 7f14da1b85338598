voxtrel_add_test_program(recording_tests SOURCES unit/recording_tests.cpp
  LIBRARIES voxtrel_recording LOCKS debug_output)

# Capture worker: sample formats, and every failure path through fake Core Audio objects.
voxtrel_add_test_program(capture_tests SOURCES unit/capture_format_tests.cpp unit/capture_seam_tests.cpp
  LIBRARIES voxtrel_recording LOCKS debug_output)
target_include_directories(capture_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)

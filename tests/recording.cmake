voxtrel_add_test_program(recording_tests SOURCES unit/recording_tests.cpp
  LIBRARIES voxtrel_recording LOCKS debug_output)

# Capture worker: sample formats, and every failure path through fake Core Audio objects.
voxtrel_add_test_program(capture_tests SOURCES unit/capture_format_tests.cpp unit/capture_seam_tests.cpp
  LIBRARIES voxtrel_recording LOCKS debug_output)
target_include_directories(capture_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)
# The same program under a real file-size limit: writes past 64 KiB fail as on a full disk. The
# limit is set by bash around Wine, so this one exists only in the cross build.
if(CMAKE_CROSSCOMPILING)
  add_test(NAME CaptureDiskFull.FullDiskKeepsTheHeaderTrueToTheDataOnDisk
    COMMAND bash -c "trap '' XFSZ; ulimit -f 64; exec \"$1\" \"$0\" --gtest_filter=CaptureSeamTest.FullDisk*"
      $<TARGET_FILE:capture_tests> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(CaptureDiskFull.FullDiskKeepsTheHeaderTrueToTheDataOnDisk PROPERTIES
    TIMEOUT 120 ENVIRONMENT "VOXTREL_FILE_SIZE_LIMIT=65536")
endif()

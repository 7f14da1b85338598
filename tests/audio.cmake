# Capture against the private PulseAudio server of scripts/test, through Wine's Core Audio. They
# all take the debug_output lock: they write debugger lines and must not overlap while one of
# them changes the server's default source. They need that server, so they exist only in the
# cross build that runs under Wine.
if(NOT CMAKE_CROSSCOMPILING)
  message(STATUS "Capture tests against PulseAudio: only in the cross build under Wine")
  return()
endif()
add_executable(capture_host audio/capture_host.cpp)
target_link_libraries(capture_host PRIVATE voxtrel_recording)
if(MINGW)
  target_link_options(capture_host PRIVATE -municode)
endif()

# With the export too: a recording and its export under names outside the ANSI code page, as
# this program has no UTF-8 manifest.
voxtrel_add_test_program(capture_audio_tests SOURCES audio/capture_audio_tests.cpp unit/export_test_helpers.cpp
  LIBRARIES voxtrel_recording voxtrel_export LOCKS debug_output)
target_include_directories(capture_audio_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio ${CMAKE_CURRENT_SOURCE_DIR}/unit)
add_dependencies(capture_audio_tests capture_host)

# No server reachable: Wine's Core Audio then has no capture endpoint.
add_executable(capture_no_device_tests audio/capture_no_device_tests.cpp)
target_link_libraries(capture_no_device_tests PRIVATE voxtrel_test_support GTest::gtest_main voxtrel_recording)
target_include_directories(capture_no_device_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)
gtest_discover_tests(capture_no_device_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  PROPERTIES TIMEOUT 120 RESOURCE_LOCK debug_output ENVIRONMENT "PULSE_SERVER=unix:/nonexistent")

# A pipe source fed a known signal; the script sets it up around the Wine program.
add_executable(capture_pipe_tests audio/capture_pipe_tests.cpp)
target_link_libraries(capture_pipe_tests PRIVATE voxtrel_test_support GTest::gtest_main voxtrel_recording)
target_include_directories(capture_pipe_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)
# Each case with a feed of its own: long enough for its recording, and no longer.
foreach(case "RecordsOneContiguousRunOfTheFedFrames;20" "AWriterHeldForTenSecondsLosesNoFrame;40")
  list(GET case 0 name)
  list(GET case 1 seconds)
  add_test(NAME CapturePipeSource.${name}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/audio/run_pipe_capture.sh $<TARGET_FILE:capture_pipe_tests>
            ${seconds} CapturePipeSource.${name})
  set_tests_properties(CapturePipeSource.${name} PROPERTIES TIMEOUT 120 RESOURCE_LOCK debug_output)
endforeach()

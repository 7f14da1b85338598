# The soak: the capture worker records the pipe source's known signal in a host program and
# the WAV is checked by content. The short run here asserts content only; scripts/bench runs
# the long one with a CPU hog and reads its working-set figures.
add_executable(soak_host soak/soak_host.cpp)
target_link_libraries(soak_host PRIVATE voxtrel_recording psapi)
target_include_directories(soak_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio)
if(MINGW)
  target_link_options(soak_host PRIVATE -municode)
endif()

voxtrel_add_test_program(frame_check_tests SOURCES soak/frame_check_tests.cpp LIBRARIES voxtrel_recording)
target_include_directories(frame_check_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/audio ${CMAKE_CURRENT_SOURCE_DIR}/soak)

# It changes the server's default source, as the audio tests do, so it takes their lock; like
# them it needs the private PulseAudio server and Wine.
if(CMAKE_CROSSCOMPILING)
  add_test(NAME Soak.ThirtySecondsOfTheFeedArriveWithNoFrameLostOrDoubled
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/soak/run_soak.sh $<TARGET_FILE:soak_host> 30)
  set_tests_properties(Soak.ThirtySecondsOfTheFeedArriveWithNoFrameLostOrDoubled PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK debug_output)
endif()

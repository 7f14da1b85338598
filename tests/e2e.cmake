# The real program driven through its windows by a small driver program, from bash scripts that
# run it under Wine.
add_executable(e2e_driver e2e/driver.cpp)
target_link_libraries(e2e_driver PRIVATE voxtrel_test_support version)
if(MINGW)
  target_link_options(e2e_driver PRIVATE -municode)
endif()
if(CMAKE_CROSSCOMPILING)
  add_test(NAME e2e.VoxtrelDrivenThroughItsWindows
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_e2e.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>)
  set_tests_properties(e2e.VoxtrelDrivenThroughItsWindows PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)

  # What the user is told when a recording or an export cannot be made, every name the dialog
  # takes, for recordings and exports, and capture devices of every shape. Alone, as they answer
  # message boxes found by their text (and the devices' test changes the default capture source).
  foreach(case "outcomes;TheUserIsToldWhatARecordingOrExportCouldNotDo" "names;EveryFileHasTheNameTheDialogReturned"
               "devices;DevicesOfEveryShapeAreRecordedShownAndExported")
    list(GET case 0 script)
    list(GET case 1 name)
    add_test(NAME e2e.${name}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_${script}.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>)
    set_tests_properties(e2e.${name} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
  endforeach()

  # What the window shows while it records and exports, and its look: alone, as it mounts a small
  # disk and reads the window at set moments.
  add_test(NAME e2e.TheWindowShowsWhereRecordingAndExportsStand
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_readouts.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>)
  set_tests_properties(e2e.TheWindowShowsWhereRecordingAndExportsStand PROPERTIES
    TIMEOUT 300 RUN_SERIAL TRUE SKIP_RETURN_CODE 77)

  # The keyboard alone, through real key events; it starts a window manager on the display, so
  # it runs alone.
  add_test(NAME e2e.TheKeyboardAloneWorksTheProgram
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_keyboard.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>)
  set_tests_properties(e2e.TheKeyboardAloneWorksTheProgram PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)

  # A disk that stalls mid-recording (a preloaded library holds the writes): alone, and it
  # changes the default capture source as the audio tests do.
  add_test(NAME e2e.AStalledDiskLosesNoFrameOfTheRecording
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_stall.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>)
  set_tests_properties(e2e.AStalledDiskLosesNoFrameOfTheRecording PROPERTIES
    TIMEOUT 300 RUN_SERIAL TRUE RESOURCE_LOCK debug_output)

  # Screenshots: alone on the display, and it changes the default capture source.
  add_test(NAME e2e.TracesShowOnScreenAndTheWindowAnswersAtOnce
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_screen.sh $<TARGET_FILE:voxtrel> $<TARGET_FILE:e2e_driver>
            $<TARGET_FILE:frame_snapshot>)
  set_tests_properties(e2e.TracesShowOnScreenAndTheWindowAnswersAtOnce PROPERTIES
    TIMEOUT 480 RUN_SERIAL TRUE RESOURCE_LOCK debug_output SKIP_RETURN_CODE 77)
endif()

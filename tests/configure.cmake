# The build itself: a configure with the machine's native compilers, standing in for the native
# Windows build that cannot be tried here, must not meet the cross build's own pieces.
if(CMAKE_CROSSCOMPILING AND VOXTREL_DEPS_PREFIX)
  add_test(NAME Build.NativeConfigureMeetsNoCrossBuildPieces
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/configure/native_configure_check.sh ${PROJECT_SOURCE_DIR}
            ${VOXTREL_DEPS_PREFIX})
  set_tests_properties(Build.NativeConfigureMeetsNoCrossBuildPieces PROPERTIES TIMEOUT 120)
endif()

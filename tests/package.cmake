# The release package: two clean builds of the commit must make the same voxtrel.exe, and the zip
# must hold what it promises and run from a fresh folder. Both need bash and Wine, so they exist
# only in the cross build.
if(CMAKE_CROSSCOMPILING)
  set(package_dir ${CMAKE_BINARY_DIR}/package-test)
  add_test(NAME Package.TwoCleanBuildsMakeTheSameExe
    COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/package --twice --out ${package_dir})
  set_tests_properties(Package.TwoCleanBuildsMakeTheSameExe PROPERTIES TIMEOUT 1200 FIXTURES_SETUP package)
  # Alone: it answers the program's dialogs as the other end-to-end tests do.
  add_test(NAME Package.RunsFromAFreshFolder
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/check_package.sh
            ${package_dir}/voxtrel-${PROJECT_VERSION}-win64.zip ${PROJECT_VERSION} $<TARGET_FILE:e2e_driver>)
  set_tests_properties(Package.RunsFromAFreshFolder PROPERTIES
    TIMEOUT 300 RUN_SERIAL TRUE FIXTURES_REQUIRED package)
endif()

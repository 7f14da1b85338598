# Finds the four libraries the ordinary way, so the same files work with the cross-built
# prefix here (CMAKE_PREFIX_PATH) and with vcpkg's packages on Windows.

# FFTW 3, single precision. vcpkg ships a CMake package; an autotools install does not.
find_package(FFTW3f CONFIG QUIET)
if(TARGET FFTW3::fftw3f)
  add_library(voxtrel::fftw3f ALIAS FFTW3::fftw3f)
else()
  find_path(FFTW3F_INCLUDE_DIR fftw3.h REQUIRED)
  find_library(FFTW3F_LIBRARY NAMES fftw3f libfftw3f REQUIRED)
  add_library(voxtrel::fftw3f UNKNOWN IMPORTED)
  set_target_properties(voxtrel::fftw3f PROPERTIES
    IMPORTED_LOCATION "${FFTW3F_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${FFTW3F_INCLUDE_DIR}")
endif()

# GLFW 3.
find_package(glfw3 3.3 CONFIG REQUIRED)

# GLEW, linked statically.
find_package(glew CONFIG QUIET)
if(TARGET GLEW::glew_s)
  add_library(voxtrel::glew ALIAS GLEW::glew_s)
else()
  set(GLEW_USE_STATIC_LIBS ON)
  find_package(GLEW REQUIRED)
  add_library(voxtrel::glew ALIAS GLEW::GLEW)
endif()

# LAME. vcpkg ships a CMake package; an autotools install does not.
find_package(mp3lame CONFIG QUIET)
if(TARGET mp3lame::mp3lame)
  add_library(voxtrel::mp3lame ALIAS mp3lame::mp3lame)
else()
  find_path(LAME_INCLUDE_DIR lame/lame.h REQUIRED)
  find_library(LAME_LIBRARY NAMES mp3lame libmp3lame REQUIRED)
  add_library(voxtrel::mp3lame UNKNOWN IMPORTED)
  set_target_properties(voxtrel::mp3lame PROPERTIES
    IMPORTED_LOCATION "${LAME_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${LAME_INCLUDE_DIR}")
endif()

# GoogleTest: Debian's sources when present (the cross build), else an installed package.
set(VOXTREL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources to build with the project")
function(voxtrel_find_gtest)
  if(EXISTS "${VOXTREL_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory("${VOXTREL_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest CONFIG REQUIRED)
  endif()
endfunction()

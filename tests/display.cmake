# The vertex and bar-width arithmetic, and the level meter painted into a real GDI device context.
voxtrel_add_test_program(display_tests SOURCES unit/display_tests.cpp
  LIBRARIES voxtrel_display)
# Embedded surfaces, frames read back from their own GL contexts, and the render loop on a thread.
voxtrel_add_test_program(display_gl_tests SOURCES unit/display_gl_tests.cpp
  LIBRARIES voxtrel_display)

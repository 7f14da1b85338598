voxtrel_add_test_program(app_tests SOURCES unit/app_tests.cpp LIBRARIES voxtrel_app LOCKS desktop)

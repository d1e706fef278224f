# Run with cmake -P: asks the Qt boundary check to guard a library that does
# not exist. The check must stop with an error naming it, not pass quietly.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/QtBoundary.cmake)
imbrel_forbid_qt(no_such_library)
message(STATUS "the check let a missing library pass")

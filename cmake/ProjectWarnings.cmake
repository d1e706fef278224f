# Warnings and sanitizer flags for every target of the project.
add_compile_options(-Wall -Wextra -Wnon-virtual-dtor -Wimplicit-fallthrough
                    $<$<COMPILE_LANGUAGE:CXX>:-Wsuggest-override>)

# Builds without sanitizers are hardened as Debian hardens its packages:
# fortified C library calls (checked buffer sizes; they need optimisation, so
# only in the optimised configurations), a stack protector, and relocations
# made read-only once the program has started (relro with immediate binding).
# The sanitizer builds keep their own instrumentation instead.
if(NOT IMBREL_SANITIZE AND NOT IMBREL_TSAN AND NOT IMBREL_FUZZ)
  set(imbrel_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  add_compile_options(-fstack-protector-strong $<${imbrel_optimised}:-U_FORTIFY_SOURCE>
                      $<${imbrel_optimised}:-D_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

if(IMBREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
if(IMBREL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Fuzz builds instrument every library for coverage, so the fuzzers see the
# paths taken inside the readers they drive, not only their own entry files.
if(IMBREL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Adds a GoogleTest executable made of the given sources, linked to the given
# libraries, and registers its tests with CTest.
function(imbrel_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # The test environment goes through `env`: a list given as the ENVIRONMENT
  # property of discovered tests is split into separate properties, so only its
  # first variable would arrive.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "env;QT_QPA_PLATFORM=offscreen;IMBREL_TESTDATA=${PROJECT_SOURCE_DIR}/../shared/testdata;IMBREL_SOURCE=${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# Every test needs the fixture qvd_suite, whose cleanup
# (tests/no_leftover_processes.sh) runs after all of them, and runs with
# QVD_TEST_SUITE set to the build folder, the mark by which that cleanup
# knows the processes of this build's tests.
set(QVD_TEST_PROPERTIES FIXTURES_REQUIRED qvd_suite ENVIRONMENT "QVD_TEST_SUITE=${CMAKE_BINARY_DIR}")

# qvd_add_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest executable and registers its cases with CTest.
function(qvd_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/test_main.cc)
  target_compile_definitions(${T_NAME} PRIVATE
    QVD_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QVD_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest Threads::Threads)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${QVD_TEST_PROPERTIES})
endfunction()

# qvd_module(<target> [DEPS <targets...>] [TEST_DEPS <targets...>] [EXCLUDE <files...>])
# One library per folder: every *.cc of the folder except *_test.cc,
# *_testutil.cc and the EXCLUDEd files.  Each *_test.cc becomes a GoogleTest
# executable named <folder>_<stem>, linked with the library, TEST_DEPS and
# every *_testutil.cc of the folder.  Files are globbed, so adding a unit
# needs no edit here.
function(qvd_module target)
  cmake_parse_arguments(M "" "" "DEPS;TEST_DEPS;EXCLUDE" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(folder ${dir} NAME)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cc)
  file(GLOB testutils CONFIGURE_DEPENDS ${dir}/*_testutil.cc)
  foreach(f IN LISTS tests testutils)
    list(REMOVE_ITEM srcs ${f})
  endforeach()
  foreach(f IN LISTS M_EXCLUDE)
    list(REMOVE_ITEM srcs ${dir}/${f})
  endforeach()
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${M_DEPS} Threads::Threads)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${M_DEPS})
  endif()
  foreach(t IN LISTS tests)
    get_filename_component(stem ${t} NAME_WE)
    qvd_add_test(NAME ${folder}_${stem} SOURCES ${t} ${testutils} LIBS ${target} ${M_TEST_DEPS})
  endforeach()
endfunction()

# qvd_fuzz_target(<name> LIBS <targets...>)
# A fuzz entry of the current folder: fuzz/<name>_fuzz.cc defines
# LLVMFuzzerTestOneInput (and may define LLVMFuzzerInitialize); its seed
# corpus is the folder fuzz/<name>_corpus/.  Every build gets the test
# executable <folder>_<name>_fuzz_replay, which feeds the corpus and
# deterministic mutations of it through the entry (cmake/fuzz_replay_main.cc).
# With -DQVD_FUZZ=ON under clang the libFuzzer executable <folder>_<name>_fuzz
# is built as well; scripts/fuzz.sh finds it in fuzz_targets.txt.
function(qvd_fuzz_target name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(entry ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}_fuzz.cc)
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}_corpus)
  set(replay ${folder}_${name}_fuzz_replay)
  add_executable(${replay} ${entry} ${PROJECT_SOURCE_DIR}/cmake/fuzz_replay_main.cc)
  target_compile_definitions(${replay} PRIVATE QVD_FUZZ_CORPUS="${corpus}"
    QVD_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QVD_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  target_link_libraries(${replay} PRIVATE ${F_LIBS} GTest::gtest Threads::Threads)
  gtest_discover_tests(${replay} TEST_PREFIX "${replay}." DISCOVERY_TIMEOUT 60
    PROPERTIES ${QVD_TEST_PROPERTIES})
  if(QVD_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(fuzzer ${folder}_${name}_fuzz)
    add_executable(${fuzzer} ${entry})
    target_compile_definitions(${fuzzer} PRIVATE
      QVD_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QVD_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${fuzzer} PRIVATE ${F_LIBS} Threads::Threads)
    set_property(GLOBAL APPEND PROPERTY QVD_FUZZ_TARGETS "${fuzzer} ${corpus}")
  endif()
endfunction()

# Writes fuzz_targets.txt into the build folder: one "<executable> <corpus>"
# a line.  Called once, after every folder is added.
function(qvd_write_fuzz_list)
  get_property(targets GLOBAL PROPERTY QVD_FUZZ_TARGETS)
  list(JOIN targets "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${text}\n")
endfunction()

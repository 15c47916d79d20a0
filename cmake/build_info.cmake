# What a build says about itself. The compiler and its flags move a score
# more than most hardware does, so pt and ptverify print the version, the
# compiler, the flags the workload is compiled with and the target, all from
# one generated header, build_info.h, that pt_core passes on to its users.

# The flags CMake puts on every compile of the workload, in its order. Warning
# switches and source path maps change no code, so they are left out.
string(TOUPPER "${CMAKE_BUILD_TYPE}" pt_build_type)
separate_arguments(pt_base_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${pt_build_type}}")
set(pt_codeless_flags "^-W[-a-zA-Z0-9=+_]*$|^-f(file|debug|macro)-prefix-map=")
list(FILTER pt_base_flags EXCLUDE REGEX "${pt_codeless_flags}")
list(JOIN pt_base_flags " " pt_base_flags)
string(REPLACE "\\" "\\\\" pt_base_flags "${pt_base_flags}")
string(REPLACE "\"" "\\\"" pt_base_flags "${pt_base_flags}")
set(pt_standard_flag "${CMAKE_CXX${CMAKE_CXX_STANDARD}_STANDARD_COMPILE_OPTION}")
set(pt_target_flags "$<JOIN:$<FILTER:$<TARGET_PROPERTY:pt_core,COMPILE_OPTIONS>,EXCLUDE,${pt_codeless_flags}>, >")

# The target the compiler generates code for, in its own spelling.
if(CMAKE_CXX_COMPILER_TARGET)
  set(pt_target "${CMAKE_CXX_COMPILER_TARGET}")
else()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
    OUTPUT_VARIABLE pt_target OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE pt_status)
  if(NOT pt_status EQUAL 0 OR pt_target STREQUAL "")
    string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}-${CMAKE_SYSTEM_NAME}" pt_target)
  endif()
endif()

# The compiler as people know it: CMake's "GNU" is GCC.
set(pt_compiler_name "${CMAKE_CXX_COMPILER_ID}")
if(pt_compiler_name STREQUAL "GNU")
  set(pt_compiler_name "GCC")
endif()

file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/generated/build_info.h CONTENT
"#pragma once
#define PT_VERSION \"${PROJECT_VERSION}\"
#define PT_VERSION_MAJOR ${PT_VERSION_MAJOR}
#define PT_VERSION_MINOR ${PT_VERSION_MINOR}
#define PT_VERSION_PATCH ${PT_VERSION_PATCH}
#define PT_COMPILER_ID \"${CMAKE_CXX_COMPILER_ID}\"
#define PT_COMPILER \"${pt_compiler_name} ${CMAKE_CXX_COMPILER_VERSION}\"
#define PT_WORKLOAD_FLAGS \"${pt_base_flags} ${pt_target_flags} ${pt_standard_flag}\"
#define PT_TARGET \"${pt_target}\"
// One line, the same in pt and ptverify: builds whose lines differ give
// scores that cannot be compared.
#define PT_BUILD_DESCRIPTION \\
    \"version \" PT_VERSION \" for \" PT_TARGET \", built by \" PT_COMPILER \" with \" PT_WORKLOAD_FLAGS
")
target_include_directories(pt_core PUBLIC ${PROJECT_BINARY_DIR}/generated)

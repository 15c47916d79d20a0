# How the Windows test programs are compiled: at -O1, several suites to a
# source, and GoogleTest with them. Every CI run builds them anew, for both
# builds' checks; what they test (pt_core, ptrun_lib) keeps the programs' own
# flags, and ptverify.exe's digests check the workload as built for users.
# In a unity source GCC takes each suite's fixture, in an unnamed namespace,
# for one declared in a header, and warns of every test derived from it.
foreach(program pt_tests ptrun_tests gtest)
  if(TARGET ${program})
    target_compile_options(${program} PRIVATE -O1 -Wno-subobject-linkage)
    set_target_properties(${program} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endforeach()

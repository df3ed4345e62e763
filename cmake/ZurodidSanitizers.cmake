if(ZURODID_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A libFuzzer entry point NAME.cpp over LIBRARY (fuzz builds only: clang, ZURODID_BUILD_FUZZ).
function(zurodid_fuzz_target name library)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${library})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()

tapforge_bench(bench_model DEPS tapforge_model)
# The build type's own flags (CMAKE_CXX_FLAGS_<CONFIG> is spelled in upper case).
string(TOUPPER "${CMAKE_BUILD_TYPE}" model_bench_config)
target_compile_definitions(bench_model PRIVATE
  TAPFORGE_MODEL_BENCH_FLAGS="${CMAKE_BUILD_TYPE}: ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${model_bench_config}}")

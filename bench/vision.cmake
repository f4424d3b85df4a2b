# Screen vision: template search (beside OpenCV's matchTemplate when OpenCV is installed),
# grey conversion and resize.
tapforge_bench(bench_vision DEPS tapforge_vision)
if(OpenCV_FOUND)
  target_include_directories(bench_vision PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(bench_vision PRIVATE ${OpenCV_LIBS})
  target_compile_definitions(bench_vision PRIVATE TAPFORGE_HAVE_OPENCV=1)
endif()

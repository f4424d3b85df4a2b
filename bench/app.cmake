# Application controller: main-thread blocking of open, edit, undo and autosave on a large script.
if(TAPFORGE_APP)
  tapforge_bench(bench_app DEPS tapforge_app tapforge_platform_sim Qt6::Core)
endif()

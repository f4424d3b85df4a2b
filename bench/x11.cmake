# Screen grabs on a private 1920 x 1080 Xvfb (started by the benchmark itself).
if(TAPFORGE_X11)
  tapforge_bench(bench_x11_grab DEPS tapforge_platform_x11)
endif()

# The desktop application on a private Xvfb: first painted window, opening, selecting and
# editing in a 7 000-step script.
if(TAPFORGE_APP AND TAPFORGE_X11)
  tapforge_bench(bench_x11_ui DEPS tapforge_ui tapforge_platform_sim PkgConfig::XLIBS)
  add_dependencies(bench_x11_ui tapforge)
  target_compile_definitions(bench_x11_ui PRIVATE TAPFORGE_APP_PATH="$<TARGET_FILE:tapforge>")
endif()

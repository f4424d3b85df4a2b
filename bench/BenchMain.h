// The shared main of every benchmark: records the build flags in the report's context,
// refuses unknown arguments, runs, then calls `after` (for summaries printed after the table).
#pragma once

#include <benchmark/benchmark.h>

inline int runBenchmarks(int argc, char** argv, void (*after)() = nullptr) {
    benchmark::AddCustomContext("build_flags", TAPFORGE_BUILD_FLAGS);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (after) after();
    return 0;
}

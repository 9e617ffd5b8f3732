# Included into the libjpeg build of scripts/fuzz.sh (CMAKE_PROJECT_INCLUDE).
# The decoder's parsing files keep comparison tracing, which steers libFuzzer
# through markers, tables and entropy codes; the files that only crunch
# pixels (inverse transforms, colour conversion, upsampling, smoothing,
# quantising) lose it: their comparisons are loop bounds and clamps that
# teach the fuzzer nothing, yet cost two thirds of every execution. Edge
# coverage stays everywhere.
set_source_files_properties(
  jidctint.c jidctfst.c jidctflt.c jidctred.c jdcolor.c jdsample.c jdmerge.c
  jdcoefct.c jdmainct.c jdpostct.c jquant1.c jquant2.c jddctmgr.c
  DIRECTORY ${CMAKE_SOURCE_DIR}
  PROPERTIES COMPILE_OPTIONS "-fno-sanitize-coverage=trace-cmp")

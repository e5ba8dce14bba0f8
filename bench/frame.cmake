orvik_bench(frame LIBS ui)

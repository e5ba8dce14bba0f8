orvik_bench(dashboard LIBS ui)

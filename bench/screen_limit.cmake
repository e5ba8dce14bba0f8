orvik_bench(screen_limit LIBS ui)

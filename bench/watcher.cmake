orvik_bench(watcher LIBS cli_watcher)

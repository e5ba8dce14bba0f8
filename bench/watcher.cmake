orvik_bench(watcher LIBS cli)

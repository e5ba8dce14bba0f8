orvik_bench(store LIBS session_store)

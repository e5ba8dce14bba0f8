orvik_bench(reader LIBS session_log)

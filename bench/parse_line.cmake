orvik_bench(parse_line LIBS session_log)

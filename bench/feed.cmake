# Not a benchmark: the dashboard fed by made-up events (tools/frame_feed.cpp), for trying the screen by hand.
add_executable(frame_feed ${PROJECT_SOURCE_DIR}/tools/frame_feed.cpp)
target_link_libraries(frame_feed PRIVATE ui)

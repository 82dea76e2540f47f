# What `cmake --graphviz` draws for docs/design.md (scripts/design-graph.sh):
# the libraries and programs and what they link, without tests and benches.
set(GRAPHVIZ_GRAPH_NAME "Pelko")
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS "Threads::Threads;pelko_stylesheet")

# The folders whose files make the build: the source hash and the test that it is current both
# read them, so that a folder added here is hashed by both.
set(source_dirs
    engine varnparse parse varncheck varnquery tests fuzz cmake packaging man completion)

#!/bin/sh
# link-with.sh DRIVER COMPILER ARGS...: runs the link line that the build wrote for COMPILER with
# DRIVER in its place.
driver=$1
shift 2
exec "$driver" "$@"

#!/bin/sh
# Runs each fuzz target for SECONDS from its seed corpus, one after the other,
# and stops at the first one that reports a finding (its exit status is kept).
#   fuzz/run-fuzz.sh SECONDS BUILD_DIR TARGET...
# Findings land in BUILD_DIR/findings/TARGET/ as crash-*, leak-*, timeout-*
# or oom-* files; replay one with `BUILD_DIR/TARGET FILE`.
set -eu
seconds=$1
dir=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
for target in "$@"; do
    name=${target#fuzz_}
    work="$dir/corpus-work/$name"
    findings="$dir/findings/$target"
    mkdir -p "$work" "$findings"
    cp -r "$src/corpus/$name/." "$work/"
    # The dialogs keep a reference to the host's last picture between
    # commands, so an input rarely frees all it allocated: libFuzzer's leak
    # check after such inputs would run all the time.  These targets count
    # every shared block themselves; the sanitizer's leak check still runs
    # when the process ends.
    leaks=1
    case $target in fuzz_boundary|fuzz_dialogs) leaks=0 ;; esac
    echo "== $target: $seconds s"
    # -close_fd_mask=3: the targets check that the library writes nothing on
    # the host's stdout and stderr; libFuzzer's own report stays visible.
    # -rss_limit_mb: the sanitizer's quarantine alone keeps a few hundred MB;
    # single allocations stay bounded by -malloc_limit_mb.
    "$dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -malloc_limit_mb=64 -max_len=4096 -print_final_stats=1 -close_fd_mask=3 \
        -detect_leaks=$leaks -artifact_prefix="$findings/" "$work"
done

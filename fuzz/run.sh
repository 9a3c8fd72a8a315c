#!/bin/sh
# Runs each fuzz target for SECONDS (default 60) on a fresh working corpus copied from the
# seeds (build/fuzz/corpus/<target>). An input that crashes, hangs or runs out of memory
# is copied into fuzz/regressions/<target>/, which the host tests feed to the same entry
# function; commit it with the fix. Exits 1 if any target found one.
set -u
cd "$(dirname "$0")/.."
seconds=${1:-60}
status=0
for target in image_loader image_run; do
    work=build/fuzz/corpus/$target
    artifacts=build/fuzz/artifacts/$target
    rm -rf "$work" "$artifacts"
    mkdir -p "$work" "$artifacts"
    cp fuzz/corpus/$target/* "$work"/
    echo "fuzz: $target for $seconds s"
    build/fuzz/bin/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" 2>&1 |
        grep -v -E '^#[0-9]+.*(NEW|REDUCE|pulse)' || true
    found=$(ls "$artifacts")
    if [ -n "$found" ]; then
        mkdir -p fuzz/regressions/$target
        cp "$artifacts"/* fuzz/regressions/$target/
        echo "fuzz: $target failed on $(echo $found | wc -w) input(s), now in fuzz/regressions/$target: $found"
        status=1
    fi
    echo "fuzz: $target working corpus: $(ls "$work" | wc -l) inputs, $(du -sk "$work" | cut -f1) KiB"
done
exit $status

#!/usr/bin/env bash
# The sanitizer and fuzz runs of the test command. Each step builds what it needs in its own folder
# and fails on any sanitizer report, failing test or fuzz finding:
#
#   asan   every test suite, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer
#          (with the fuzzers' coverage instrumentation, so that the fuzz step reuses this build)
#   tsan   the relay and worker suites under ThreadSanitizer
#   fuzz   each libFuzzer target of the asan build for a bounded time, from its committed corpus
#
#   scripts/sanitize.sh [asan|tsan|fuzz]...      (no step named: all three, in that order)
#
# Environment: COURIER_ASAN_DIR, COURIER_TSAN_DIR (default build-asan, build-tsan beside the
# sources), COURIER_JOBS (default 2), COURIER_FUZZ_SECONDS (default 60 per target).
# Suppression files live in cmake/sanitizers/; they hold reports that lie wholly inside Qt or
# system libraries, never our own code.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
asan_dir="${COURIER_ASAN_DIR:-$here/build-asan}"
tsan_dir="${COURIER_TSAN_DIR:-$here/build-tsan}"
jobs="${COURIER_JOBS:-2}"
fuzz_seconds="${COURIER_FUZZ_SECONDS:-60}"
supp="$here/cmake/sanitizers"

# glibc's tzset, reached from several threads' first localtime, races when TZ is unset.
export TZ="${TZ:-UTC}"

configure() {
    local dir=$1
    shift
    if [[ ! -f "$dir/build.ninja" ]]; then
        cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    fi
}

step_asan() {
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test suite"
    configure "$asan_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCOURIER_SANITIZE=address,undefined \
        -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
    ninja -C "$asan_dir" -j"$jobs"
    local asan="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1"
    # Whole allocation stacks (Qt has no frame pointers), so that a leak suppression names the
    # library that allocated, not just the first frame.
    asan+=":fast_unwind_on_malloc=0:malloc_context_size=40"
    ASAN_OPTIONS="$asan" \
    LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp" \
        ctest --test-dir "$asan_dir" --output-on-failure --no-tests=error -j"$jobs" \
            -E '^windows_syntax_' # compiles with MinGW: nothing of it runs under the sanitizers
}

step_tsan() {
    echo "== ThreadSanitizer: relay and worker suites"
    configure "$tsan_dir" -DCOURIER_SANITIZE=thread
    local suites=(tst_printbody tst_printbodysource tst_httppost tst_cloud tst_printerthread tst_printerserver tst_statethread tst_relayflow
        tst_relayload tst_listenerguard tst_winsimnetwork tst_workers tst_outboxjournal)
    local present=()
    for suite in "${suites[@]}"; do
        if ninja -C "$tsan_dir" -t query "$suite" >/dev/null 2>&1; then
            present+=("$suite")
        fi
    done
    ninja -C "$tsan_dir" -j"$jobs" "${present[@]}" cloudsim winsim_tool rundll32_standin Quayport
    local pattern
    pattern="^($(IFS='|'; echo "${present[*]}"))\$"
    # Qt and glib are not built for the sanitizer; memory they touch inside their own code through
    # the C library is theirs to order. Reports do not stop a suite (a process stopped by the
    # sanitizer can hang in Qt's shutdown); any report fails it at exit (exit code 66).
    TSAN_OPTIONS="ignore_noninstrumented_modules=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp" \
        ctest --test-dir "$tsan_dir" --output-on-failure --no-tests=error -j"$jobs" -R "$pattern"
}

step_fuzz() {
    echo "== libFuzzer targets, $fuzz_seconds s each"
    configure "$asan_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCOURIER_SANITIZE=address,undefined \
        -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
    ninja -C "$asan_dir" -j"$jobs" fuzz_replies fuzz_history
    for target in replies history; do
        local exe="$asan_dir/tests/fuzz/fuzz_$target/fuzz_$target"
        local work
        work="$(mktemp -d)"
        # New inputs go to a scratch corpus; the committed one is only read.
        mkdir -p "$work/corpus" "$work/findings"
        (
            cd "$(dirname "$exe")"
            ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" \
            UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp" \
            QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 \
                "$exe" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=4096 \
                -print_final_stats=1 \
                -artifact_prefix="$work/findings/" "$work/corpus" "$here/tests/fuzz/corpus/$target"
        ) || {
            echo "fuzz_$target found a failing input; see $work/findings" >&2
            return 1
        }
        rm -rf "$work"
    done
}

steps=("$@")
if [[ ${#steps[@]} -eq 0 ]]; then
    steps=(asan tsan fuzz)
fi
for step in "${steps[@]}"; do
    case "$step" in
    asan) step_asan ;;
    tsan) step_tsan ;;
    fuzz) step_fuzz ;;
    *)
        echo "unknown step: $step (asan, tsan, fuzz)" >&2
        exit 2
        ;;
    esac
done

#!/bin/bash
# Rewrites the cleanup report's golden files (tests/data/cleanup/report-*.txt)
# from the current decoder and analysis. Run it after a deliberate change to
# the measures, then review `git diff tests/data/cleanup` like code: every
# changed number should be explained by that change.
#
# Usage: tests/cleanup/update-report-goldens.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
ninja -C "$build" cleanup_report_test
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
# The same environment as under ctest: a private home, UTC, no display.
HOME="$home" XDG_CACHE_HOME="$home/.cache" XDG_CONFIG_HOME="$home/.config" TZ=UTC \
    QT_QPA_PLATFORM=offscreen GLANTO_UPDATE_GOLDENS=1 \
    "$build/tests/cleanup/cleanup_report_test" --gtest_filter='*Golden*:*NoNeighbours*'
git -C "$root" diff --stat -- tests/data/cleanup

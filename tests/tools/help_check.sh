#!/usr/bin/env bash
# Every tool given as an argument answers --help and -h with its usage on standard output, nothing
# on standard error, and exit status 0.
set -u
status=0
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for tool in "$@"; do
  for flag in --help -h; do
    out=$("$tool" "$flag" 2>"$errors")
    code=$?
    err=$(cat "$errors")
    if [ "$code" -ne 0 ] || [[ $out != usage:* ]] || [ -n "$err" ]; then
      echo "FAILED: $(basename "$tool") $flag: exit $code, stdout '$out', stderr '$err'" >&2
      status=1
    fi
  done
done
exit $status

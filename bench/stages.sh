#!/usr/bin/env bash
# The conversion's CPU time by stage: runs the converter once under `perf record` and sorts the
# samples by function into read and decode (MDFLIB, the value plans, the read calls), merge (the
# converter's bracket and interpolation loop), format (the ADF writer: numbers and value lines)
# and write (the C library's and the kernel's side of writing the file, page cache included),
# then prints each stage's share and nanoseconds per value (value lines x columns).
#
#   bench/stages.sh TRAXCON NAME       converts NAME.dat in the current folder (NAME.adf)
set -euo pipefail
TRAXCON=$1
NAME=$2
DATA=$(mktemp)
trap 'rm -f "$DATA" "$DATA.txt"' EXIT
rm -f "$NAME.adf"
perf record -q -o "$DATA" "$TRAXCON" "$NAME" /trace=0 >/dev/null 2>&1
perf report -i "$DATA" --no-children --sort symbol --stdio 2>/dev/null >"$DATA.txt"
header=$(grep -m1 '^#' "$NAME.adf")
values=$(echo "$header" | awk '{ print $2 * $3 }')
samples=$(awk '/^# Samples:/ { print $3 }' "$DATA.txt" | head -1)
event=$(awk '/^# Event count/ { print $NF }' "$DATA.txt" | head -1)
awk -v values="$values" -v event="$event" -v samples="$samples" '
/^ +[0-9.]+%/ {
    share = $1 + 0
    kernel = $2 == "[k]"
    $1 = ""; $2 = ""
    name = $0
    if (name ~ /adf_|format|pending/) stage = "format"
    else if (name ~ /mdf|raw_|convert_|seek_record|load_record|eval|area_reader|window/) stage = "read and decode"
    else if (name ~ /conv_merge|advance|read_value|read_time|fill_|write_line|time_text|strcmp|next_line/) stage = "merge"
    else if (kernel && name ~ /_to_iter|filemap_get|read|readahead/) stage = "read and decode"
    else if (kernel || name ~ /memmove|memcpy|fwrite|write/) stage = "write"
    else stage = "other"
    total[stage] += share
}
END {
    # cpu-clock events count nanoseconds.
    printf "%-16s %8s %10s\n", "stage", "share", "ns/value"
    split("read and decode,merge,format,write,other", order, ",")
    for (i = 1; i <= 5; ++i) {
        s = order[i]
        printf "%-16s %7.1f%% %10.2f\n", s, total[s], event * total[s] / 100 / values
    }
    printf "%-16s %7.1f%% %10.2f   (%d values, %s samples)\n", "all", 100, event / values, values, samples
}' "$DATA.txt"

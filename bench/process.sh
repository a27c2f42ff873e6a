# What the benchmarks read of a process from /proc; sourced.

tick=$(getconf CLK_TCK)

# CPU seconds a process has used, user and system; 0 once it has gone. The
# name in parentheses may hold spaces: the fields are counted after it.
cpu() { awk -v t="$tick" '{ sub(/^.*\) /, ""); print ($12 + $13) / t }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# Bytes a process has read so far.
received() { awk '/^rchar/ {print $2}' "/proc/$1/io"; }

"""Times N acknowledged commands through ctrl_lumo over UDP; prints the
median and the mean per command in microseconds. Used by bench_capi_overhead."""

import statistics
import sys
import time

import ctrl_lumo

address, runs = sys.argv[1], int(sys.argv[2])
with ctrl_lumo.Link.udp(address) as link:
    for _ in range(min(runs, 200)):  # warm-up
        link.send("za 1")
    times = []
    for _ in range(runs):
        start = time.perf_counter_ns()
        answer = link.send("za 1")
        times.append(time.perf_counter_ns() - start)
        if answer.outcome != ctrl_lumo.Outcome.ANSWERED:
            sys.exit(f"not answered: {answer}")
print(f"{statistics.median(times) / 1000:.1f} {statistics.fmean(times) / 1000:.1f}")

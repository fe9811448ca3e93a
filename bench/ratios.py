#!/usr/bin/env python3
"""Prints the library's cost against the floor, as ratios, from the JSON
report of ravelTint_bench (run with repetitions; medians are used)."""
import json
import sys

report = json.load(sys.stdin)
median = {b["run_name"]: b["real_time"] for b in report["benchmarks"]
          if b.get("aggregate_name") == "median"}
rate = {b["run_name"]: b.get("items_per_second", 0) for b in report["benchmarks"]
        if b.get("aggregate_name") == "median"}

rows = [("(a) resolved entry / direct call", "BM_EntryResolved", "BM_EntryFloor", "1.05")]
rows += [(f"(b) shader / floor, {n}-byte name", f"BM_Shader/{n}",
          f"BM_ShaderFloor/{n}", goal) for n, goal in ((8, "0.85"), (32, "0.80"), (128, "0.65"))]
rows += [(f"(b) shader / fused floor, {n}-byte name", f"BM_Shader/{n}",
          f"BM_ShaderFusedFloor/{n}", "1.05") for n in (8, 32, 128)]
rows += [(f"(b) shader recording / shader not, {n}-byte name",
          f"BM_ShaderRecording/{n}", f"BM_ShaderLoaded/{n}", "1.10")
         for n in (8, 32, 128)]
rows += [("(c) message / vsnprintf + direct call", "BM_Message",
          "BM_MessageFloor", "1.2")]

print("| measure | library | floor | ratio | goal |")
print("|---|---|---|---|---|")
for label, ours, floor, goal in rows:
    print(f"| {label} | {median[ours]:.1f} ns | {median[floor]:.1f} ns "
          f"| {median[ours] / median[floor]:.2f}× | ≤ {goal}× |")
def per_second(name, threads):
    return rate[f"{name}/real_time/threads:{threads}"]

for threads in (1, 2):
    ours = per_second("BM_ShaderThreads", threads)
    floor = per_second("BM_ShaderFloorThreads", threads)
    print(f"| (d) shader calls per second, {threads} thread{'s' if threads > 1 else ''} "
          f"| {ours / 1e6:.1f} M/s | {floor / 1e6:.1f} M/s | {floor / ours:.2f}× "
          f"| as the floor |")
for name, label in (("BM_ShaderThreads", "library"), ("BM_ShaderFloorThreads", "floor")):
    print(f"| (d) {label} scaling, 2 threads / 1 thread | | | "
          f"{per_second(name, 2) / per_second(name, 1):.2f}× | 2× |")

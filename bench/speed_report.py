#!/usr/bin/env python3
"""Prints one group of bench/run.sh: the median and min-max time of each
command, its peak memory, and the ratios asked for, each against its aim.

  speed_report.py TITLE TIMES PEAKS SUMMARY LABEL... [--ratio RATIO]...

TIMES holds the launcher's lines "COMMAND ROUND NANOSECONDS", COMMAND being
the index of a LABEL; PEAKS one line "INDEX KIB" a memory run (GNU time's
%M); SUMMARY is a file the aims' verdicts are appended to.  A RATIO reads
"KIND:A:B[:LIMIT]": KIND "time" divides the median of A by that of B,
"memory" the peak of A by that of B; with a LIMIT the line says whether the
ratio is at most the limit.
"""
import statistics
import sys


def read_times(path, count):
    times = [[] for _ in range(count)]
    with open(path) as lines:
        for line in lines:
            index, _, nanoseconds = line.split()
            times[int(index)].append(int(nanoseconds) / 1e6)
    return times


def read_peaks(path, count):
    peaks = [0] * count
    with open(path) as lines:
        for line in lines:
            index, kib = line.split()
            peaks[int(index)] = max(peaks[int(index)], int(kib))
    return peaks


def main(argv):
    title, times_path, peaks_path, summary_path = argv[1:5]
    labels, ratios = [], []
    rest = iter(argv[5:])
    for word in rest:
        if word == "--ratio":
            ratios.append(next(rest))
        else:
            labels.append(word)
    times = read_times(times_path, len(labels))
    peaks = read_peaks(peaks_path, len(labels))
    medians = [statistics.median(t) for t in times]

    width = max(len(label) for label in labels + ["command"])
    print("== %s ==" % title)
    print("  %-*s  %10s  %17s  %9s  %5s" % (width, "command", "median ms", "min-max ms", "peak MiB", "runs"))
    for label, samples, median, peak in zip(labels, times, medians, peaks):
        spread = "%.2f-%.2f" % (min(samples), max(samples))
        print("  %-*s  %10.2f  %17s  %9.2f  %5d"
              % (width, label, median, spread, peak / 1024, len(samples)))
    with open(summary_path, "a") as summary:
        for wanted in ratios:
            parts = wanted.split(":")
            kind, first, second = parts[0], labels.index(parts[1]), labels.index(parts[2])
            values = medians if kind == "time" else peaks
            ratio = values[first] / values[second]
            line = "%s %s / %s: %.2f" % ("median time" if kind == "time" else "peak memory",
                                         labels[first], labels[second], ratio)
            if len(parts) > 3:
                limit = float(parts[3])
                verdict = "met" if ratio <= limit else "NOT met"
                line += "  (aim <= %s: %s)" % (parts[3], verdict)
                summary.write("%-12s %s\n" % (title, line))
            print("  " + line)
    print()


if __name__ == "__main__":
    main(sys.argv)

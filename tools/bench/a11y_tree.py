#!/usr/bin/python3
"""Times what a screen reader does: reading the whole accessible tree of QARN's window over the
accessibility bus, while the window is idle and while a download waits for the target.

    a11y_tree.py APPNAME IDLE_UNTIL WAIT_FROM WAIT_UNTIL

The times are seconds from the start of this script: the tree is read again and again until
IDLE_UNTIL, then from WAIT_FROM until WAIT_UNTIL. Prints one line per phase: the number of
nodes, how many reads, and the median and longest read in seconds.
"""
import statistics
import sys
import time

import pyatspi


def find_app(name, deadline):
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def read_tree(node):
    """Name, role and state of every node, as a client reads them: one round trip each."""
    count = 1
    node.name, node.getRoleName(), node.getState()
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            count += read_tree(child)
    return count


def phase(app, until):
    times, nodes = [], 0
    while time.monotonic() < until:
        start = time.monotonic()
        nodes = read_tree(app)
        times.append(time.monotonic() - start)
    return nodes, times


def main():
    name = sys.argv[1]
    origin = time.monotonic()
    idle_until, wait_from, wait_until = (origin + float(v) for v in sys.argv[2:5])
    app = find_app(name, idle_until)
    if app is None:
        print(f"a11y: no application {name} on the accessibility bus", file=sys.stderr)
        return 1
    results = [("idle", *phase(app, idle_until))]
    time.sleep(max(0.0, wait_from - time.monotonic()))
    results.append(("in a wait", *phase(app, wait_until)))
    for label, nodes, times in results:
        if not times:
            print(f"{label:10} no read finished")
            continue
        print(f"{label:10} {nodes:4d} nodes, {len(times):4d} reads, median {statistics.median(times):.3f} s, "
              f"longest {max(times):.3f} s")
    idle, waiting = results[0][2], results[1][2]
    if idle and waiting:
        print(f"in a wait / idle: {statistics.median(waiting) / statistics.median(idle):.2f} x")
    return 0


if __name__ == "__main__":
    sys.exit(main())

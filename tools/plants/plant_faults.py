#!/usr/bin/env python3
"""Plants small faults one at a time in a tree, rebuilds, runs the suite, and says which the
suite caught.  plant.py TREE LIST [--pick N --seed S] ; LIST: candidates, made by --scan."""
import json, random, re, subprocess, sys, os, time

FOLDERS = ["startup", "config", "messages", "bootmode", "ui", "tools/qarnctl", "tools/target-sim"]
RULES = [  # (name, pattern, replacement)
    ("flip==", r" == ", " != "), ("flip!=", r" != ", " == "),
    ("lt->le", r" < (?!<)", " <= "), ("gt->ge", r" > (?!>)", " >= "),
    ("le->lt", r" <= ", " < "), ("ge->gt", r" >= ", " > "),
    ("and->or", r" && ", " || "), ("or->and", r" \|\| ", " && "),
    ("const+1", r"(?<![\w.])([2-9]|[1-9]\d+)(?![\w.x])", None),
    ("drop-call", r"^(\s+)([A-Za-z_][\w:>.-]*\([^;]*\);)\s*$", None),
]

def scan(tree):
    out = []
    for folder in FOLDERS:
        for root, _, files in os.walk(os.path.join(tree, folder)):
            for f in sorted(files):
                if not f.endswith(".cpp"):
                    continue
                path = os.path.relpath(os.path.join(root, f), tree)
                for n, line in enumerate(open(os.path.join(tree, path), encoding="utf-8"), 1):
                    s = line.strip()
                    if s.startswith("//") or s.startswith("#") or "QStringLiteral(\"" in s and "==" not in s:
                        continue
                    for name, pat, rep in RULES:
                        m = re.search(pat, line)
                        if not m:
                            continue
                        if name == "const+1":
                            new = line[:m.start(1)] + str(int(m.group(1)) + 1) + line[m.end(1):]
                        elif name == "drop-call":
                            if s.startswith(("return", "if", "for", "while", "else", "case")):
                                continue
                            new = m.group(1) + "(void)0; // planted\n"
                        else:
                            new = line[:m.start()] + rep + line[m.end():]
                        out.append({"file": path, "line": n, "rule": name, "old": line, "new": new})
    return out

def run(tree, plants, log):
    build = os.path.join(tree, "build")
    results = []
    for p in plants:
        path = os.path.join(tree, p["file"])
        text = open(path, encoding="utf-8").read().split("\n")
        lines = open(path, encoding="utf-8").readlines()
        if lines[p["line"] - 1] != p["old"]:
            results.append(dict(p, outcome="stale")); continue
        lines[p["line"] - 1] = p["new"]
        open(path, "w", encoding="utf-8").writelines(lines)
        t = time.time()
        try:
            b = subprocess.run(["nice", "cmake", "--build", build], capture_output=True, text=True)
            if b.returncode != 0:
                outcome = "no-build"
            else:
                env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
                r = subprocess.run(["/work/shared/tools/no-ttys", "ctest", "-j2", "--timeout", "90",
                                    "--stop-on-failure"], cwd=build, capture_output=True, text=True, env=env)
                outcome = "caught" if r.returncode != 0 else "SURVIVED"
                failed = re.findall(r"\d+ - (\S+) \(", r.stdout)
        finally:
            lines[p["line"] - 1] = p["old"]
            open(path, "w", encoding="utf-8").writelines(lines)
        res = dict(p, outcome=outcome, seconds=round(time.time() - t), failed=failed if outcome == "caught" else [])
        results.append(res)
        print(f'{outcome:9} {p["file"]}:{p["line"]} {p["rule"]}: {p["old"].strip()[:90]}', file=log, flush=True)
    subprocess.run(["nice", "cmake", "--build", build], capture_output=True)
    return results

if __name__ == "__main__":
    tree, listfile = sys.argv[1], sys.argv[2]
    if sys.argv[3:4] == ["--scan"]:
        cands = scan(tree)
        random.seed(int(sys.argv[4]))
        per = {}
        for c in cands: per.setdefault(c["file"].split("/")[0] if not c["file"].startswith("tools") else "/".join(c["file"].split("/")[:2]), []).append(c)
        pick = []
        n = int(sys.argv[5])
        for folder in sorted(per):
            pick += random.sample(per[folder], min(len(per[folder]), n))
        json.dump(pick, open(listfile, "w"), indent=1)
        print(len(cands), "candidates;", len(pick), "picked", {k: len(v) for k, v in per.items()})
    else:
        plants = json.load(open(listfile))
        res = run(tree, plants, sys.stdout)
        json.dump(res, open(listfile + ".out", "w"), indent=1)
        print(sum(r["outcome"] == "caught" for r in res), "caught of", sum(r["outcome"] in ("caught", "SURVIVED") for r in res))

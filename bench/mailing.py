#!/usr/bin/python3
"""The mailing of scripts/bench-scale.sh: its data, its messages, the check of what a run left, and
a sampler of the servers while it runs. Run with /usr/bin/python3.

    mailing.py fill DSN N               N customers (customerI@example.com), three orders each
    mailing.py messages FOLDER N        FOLDER/query.sql and one message per customer, mNNNNN.txt
    mailing.py check FOLDER N LOG       every message merged exact, the log's lines all there
    mailing.py check-floor FOLDER N     every message replaced by its three rows (the durable floor)
    mailing.py floor-args FOLDER N DSN  the durable floor's arguments per message, NUL-separated
    mailing.py sample OUT NAME=PID...   until OUT.stop exists: peak server connections, CPU seconds
    mailing.py table RESULTS            the markdown table of RESULTS/runs.jsonl and steps.txt

The data are made from the customer's number alone, so the check knows every value without asking
the database: a message is right only if it holds exactly its customer's rows.
"""
import collections
import datetime
import json
import os
import re
import sys
import time

import pyodbc

from data import MESSAGE, QUERY, TITLES, insert

STAMP = re.compile(r"\d\d:\d\d:\d\d \d\d-\d\d-\d{4} ")


def orders(i):
    """Customer i's rows as the query gives them: name, order_no, placed, title, amount."""
    rows = []
    for k in range(3):
        placed = datetime.date(2026, 11, 1) + datetime.timedelta(days=(i * 7 + k * 11) % 30)
        rows.append(("Customer %d O'Hara" % i, str(3 * i + k), placed.isoformat(),
                     TITLES[(i + k) % len(TITLES)], "%d.%02d" % ((i * 7 + k) % 200, (i + k) % 100)))
    return sorted(rows, key=lambda r: (r[2], int(r[1])))


def fill(dsn, n):
    connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
    cursor = connection.cursor()
    for table in ("orders", "customers"):
        cursor.execute("DROP TABLE IF EXISTS " + table)
    cursor.execute("CREATE TABLE customers (id INTEGER PRIMARY KEY, "
                   "email VARCHAR(100) NOT NULL UNIQUE, name VARCHAR(60))")
    cursor.execute("CREATE TABLE orders (order_no INTEGER PRIMARY KEY, customer_id INTEGER "
                   "NOT NULL, placed DATE, title VARCHAR(80), amount NUMERIC(10,2))")
    cursor.execute("CREATE INDEX orders_customer ON orders (customer_id)")
    insert(cursor, "customers", [[str(i), "'customer%d@example.com'" % i,
                                  "'Customer %d O''Hara'" % i] for i in range(n)])
    insert(cursor, "orders", [[o, str(i), "'%s'" % p, "'%s'" % t, a]
                              for i in range(n) for _, o, p, t, a in orders(i)])
    connection.close()


def address(i):
    return "customer%d@example.com" % i


def merged(i):
    """The message to customer i as the merge must leave it (README: row blocks, placeholders)."""
    rows = orders(i)
    before, block, after = MESSAGE.format(address(i)).split("%kelvorin%\r\n")

    def put(text, row):
        return re.sub(r"%%(\d+)%%", lambda m: row[int(m[1]) - 1], text)
    return put(before, rows[0]) + "".join(put(block, r) for r in rows) + put(after, rows[0])


def messages(folder, n):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "query.sql"), "w", newline="") as f:
        f.write(QUERY)
    for i in range(n):
        with open(os.path.join(folder, "m%05d.txt" % i), "w", encoding="utf-8", newline="") as f:
            f.write(MESSAGE.format(address(i)))


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def check(folder, n, log):
    """Counts the messages not merged exact and the log lines missing or extra; 0 0 is right."""
    wrong = sum(read(os.path.join(folder, "m%05d.txt" % i)) != merged(i) for i in range(n)
                if os.path.exists(os.path.join(folder, "m%05d.txt" % i))) + sum(
        not os.path.exists(os.path.join(folder, "m%05d.txt" % i)) for i in range(n))
    text = read(log)
    entries = [e[20:] for e in re.split("\r\n(?=%s)" % STAMP.pattern, text[:-2])]
    want = collections.Counter()
    for i in range(n):
        want.update(["+++ Process: m%05d.txt" % i, QUERY.replace("%recipient%", address(i)),
                     "SQL OK (5)", "Complete!"])
    got = collections.Counter(entries)
    print(wrong, sum(((want - got) + (got - want)).values()))


def check_floor(folder, n):
    bad = 0
    for i in range(n):
        lines = read(os.path.join(folder, "m%05d.txt" % i)).split("\r\n")[:-1]
        # The floor takes values as the driver gives them: SQLite writes 12.50 as 12.5.
        cells = [line.split("\t") for line in lines]
        bad += [c[:4] + [float(c[4])] for c in cells] != [[*r[:4], float(r[4])] for r in orders(i)]
    print(bad, 0)


def floor_args(folder, n, dsn):
    out = sys.stdout.buffer
    for i in range(n):
        sql = QUERY.replace("%recipient%", address(i))
        for arg in (dsn, "", "", sql, os.path.join(folder, "m%05d.txt" % i)):
            out.write(arg.encode() + b"\0")


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def cpu(pid, reaped=True):
    """Seconds of CPU of pid and its children, those ended (reaped) and those still running."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    ticks = sum(int(x) for x in fields[11:15 if reaped else 13])
    return ticks / os.sysconf("SC_CLK_TCK") + sum(cpu(c, False) for c in children(pid))


def backends(pid):
    """The server's connections of the mailing's role (PgBouncer: its client connections)."""
    count = 0
    for c in children(pid):
        try:
            with open("/proc/%d/cmdline" % c, "rb") as f:
                count += f.read().startswith(b"postgres: kelvorin kelvorin")
        except OSError:
            pass
    return count


def sample(out, parts):
    pids = {name: int(pid) for name, pid in (p.split("=") for p in parts)}
    start = {name: cpu(pid) for name, pid in pids.items()}
    peak = dict.fromkeys(pids, 0)
    while not os.path.exists(out + ".stop"):
        for name, pid in pids.items():
            peak[name] = max(peak[name], backends(pid))
        time.sleep(0.02)
    with open(out, "w") as f:
        json.dump({"peak": peak, "cpu": {n: cpu(p) - start[n] for n, p in pids.items()}}, f)


PATHS = {"sqlite": "SQLite", "primary": "primary, direct", "standby": "standby, direct",
         "pooler": "PgBouncer before the standby"}


def table(results):
    runs = [json.loads(line) for line in open(os.path.join(results, "runs.jsonl"))]
    out = ["| path | at once | messages/s | median ms | p99 ms | server connections at peak | "
           "CPU s: primary, standby, PgBouncer, programs | wrong, log lines off |",
           "|---|---:|---:|---:|---:|---:|---|---|"]
    for r in sorted(runs, key=lambda r: (r["kind"] == "floor", r["path"], r["at_once"])):
        name = PATHS[r["path"]] + (": durable floor" if r["kind"] == "floor" else "")
        peak = {"primary": r["peak"]["primary"], "standby": r["peak"]["standby"],
                "pooler": r["peak"]["standby"]}.get(r["path"], "-")
        out.append("| %s | %d | %.0f | %.1f | %.1f | %s | %.1f, %.1f, %.1f, %.1f | %d, %d |" % (
            name, r["at_once"], r["rate"], r["median_ms"], r["p99_ms"], peak, r["cpu"]["primary"],
            r["cpu"]["standby"], r["cpu"]["pgbouncer"], r["programs_cpu"], r["wrong"], r["log_off"]))
    out += ["", "| one message at a time (median ms) | SELECT 1 | the query | durable floor | kelvorin |",
            "|---|---:|---:|---:|---:|"]
    steps = collections.defaultdict(dict)
    for line in open(os.path.join(results, "steps.txt")):
        if not line.split() or not line.split()[-1].isdigit():
            continue  # --single 0: named, never timed
        *name, dsn, us = line.split()
        steps[dsn][" ".join(name)] = "%.2f" % (int(us) / 1000)
    for dsn, s in steps.items():
        out.append("| %s | %s |" % (dsn, " | ".join(
            s.get(k, "-") for k in ("SELECT 1", "the query", "durable floor", "kelvorin"))))
    out += ["", open(os.path.join(results, "machine.md")).read()]
    print("\n".join(out))


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "fill":
        fill(args[0], int(args[1]))
    elif command == "messages":
        messages(args[0], int(args[1]))
    elif command == "check":
        check(args[0], int(args[1]), args[2])
    elif command == "check-floor":
        check_floor(args[0], int(args[1]))
    elif command == "floor-args":
        floor_args(args[0], int(args[1]), args[2])
    elif command == "sample":
        sample(args[0], args[1:])
    elif command == "table":
        table(args[0])


if __name__ == "__main__":
    main()

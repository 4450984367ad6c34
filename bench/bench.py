#!/usr/bin/python3
"""Runs the measurements behind docs/performance.md; scripts/bench.sh calls it
with the engines started, ODBCINI and ODBCSYSINI set and the programs built.

    bench.py --build DIR --work DIR --results DIR [--win-build DIR] [--only ...]

Three programs do the same job on the same data, one process per message:
  floor     bench/floor.c: connect, query, fetch, exit (the lower bound)
  kelvorin  the Linux build
  python    bench/merge.py (pyodbc), the script a user would otherwise write
and, for information, kelvorin.exe under Wine ("wine").

Every message file is prepared before the timing starts (the programs rewrite
them in place), and every merged message is checked afterwards: Kelvorin
always exits 0, so only its output tells a merged message from a failed run.
The timings themselves are taken by kelvorin_run_timed, which writes one line
per run into RESULTS/<experiment>.tsv.
"""
import argparse
import datetime
import decimal
import os
import shutil
import subprocess
import sys

import pyodbc

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENGINES = {"sqlite": "kelvorin_sqlite", "pg": "kelvorin_pg_unicode"}
CUSTOMERS = 500
ROW_STEPS = [1, 10, 100, 1000, 5000]
COLUMN_STEPS = [2, 16, 64]
WIDE_ROWS = 100
SIZE_STEPS = [1 << 10, 10 << 10, 100 << 10, 1 << 20, 10 << 20]
TITLES = ["The Shipping News", "Mapping the Deep", "Gödel, Escher, Bach",
          "A Pattern Language", "The Periodic Table", "Invisible Cities"]

ORDERS_SQL = ("SELECT c.name, o.order_no, o.placed, o.title, o.amount\n"
              "FROM customers c JOIN orders o ON o.customer_id = c.id\n"
              "WHERE c.email = '%recipient%'\nORDER BY o.placed, o.order_no")


def wide_sql(columns):
    names = ", ".join("w.c%d" % i for i in range(1, columns + 1))
    return ("SELECT %s\nFROM customers c JOIN wide w ON w.customer_id = c.id\n"
            "WHERE c.email = '%%recipient%%'\nORDER BY w.k" % names)


# ------------------------------------------------------------------ the data

def quoted(text):
    return "'" + text.replace("'", "''") + "'"


def insert_batches(cursor, table, rows, batch=500):
    """Multi-row INSERTs of literal values: fast on every engine and driver."""
    for start in range(0, len(rows), batch):
        values = ",".join("(" + ",".join(row) + ")" for row in rows[start:start + batch])
        cursor.execute("INSERT INTO %s VALUES %s" % (table, values))


def order_rows(customer_id, count, first_order_no):
    day0 = datetime.date(2026, 1, 1)
    rows = []
    for i in range(count):
        placed = day0 + datetime.timedelta(days=(i * 7) % 3000)
        amount = decimal.Decimal(1000 + (i * 37) % 9000) / 100
        rows.append([str(first_order_no + i), str(customer_id), quoted(placed.isoformat()),
                     quoted(TITLES[i % len(TITLES)]), str(amount)])
    return rows


def customers():
    """(id, email, number of orders): the mailing list, then the growth cases."""
    people = [(i, "customer%d@example.com" % i, 3) for i in range(1, CUSTOMERS + 1)]
    people += [(CUSTOMERS + 1 + k, "rows%d@example.com" % n, n) for k, n in enumerate(ROW_STEPS)]
    people.append((CUSTOMERS + 100, "wide@example.com", 0))
    return people


def create_data(dsn):
    connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
    cursor = connection.cursor()
    for table in ("orders", "wide", "customers"):
        try:
            cursor.execute("DROP TABLE " + table)
        except pyodbc.Error:
            pass
    cursor.execute("CREATE TABLE customers (id INTEGER PRIMARY KEY, "
                   "email VARCHAR(100) NOT NULL UNIQUE, name VARCHAR(60))")
    cursor.execute("CREATE TABLE orders (order_no INTEGER PRIMARY KEY, customer_id INTEGER "
                   "NOT NULL, placed DATE, title VARCHAR(80), amount NUMERIC(10,2))")
    cursor.execute("CREATE INDEX orders_customer ON orders (customer_id)")
    columns = ", ".join("c%d VARCHAR(40)" % i for i in range(1, 65))
    cursor.execute("CREATE TABLE wide (k INTEGER PRIMARY KEY, customer_id INTEGER NOT NULL, %s)"
                   % columns)
    cursor.execute("CREATE INDEX wide_customer ON wide (customer_id)")
    connection.autocommit = False
    people, orders, order_no = [], [], 1
    for cid, email, count in customers():
        people.append([str(cid), quoted(email), quoted("Customer %d O'Hara" % cid)])
        orders += order_rows(cid, count, order_no)
        order_no += count
    insert_batches(cursor, "customers", people)
    insert_batches(cursor, "orders", orders)
    wide_id = customers()[-1][0]
    wide = [[str(r), str(wide_id)] + [quoted("row %d column %d" % (r, c)) for c in range(1, 65)]
            for r in range(1, WIDE_ROWS + 1)]
    insert_batches(cursor, "wide", wide, batch=50)
    connection.commit()
    connection.close()


# ------------------------------------------------------------------ messages

def mail(recipient, block_line):
    head = ("From: Northwind Books <orders@northwind.example>\r\n"
            "To: %s\r\nSubject: Your recent orders\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "<<< %s\r\n\r\nDear %%%%1%%%%,\r\n\r\nhere is what you ordered from us:\r\n"
            "%%kelvorin%%\r\n" % (recipient, recipient))
    tail = ("%kelvorin%\r\n\r\nThe first of them was #%%2%%. Thank you for your custom!\r\n"
            "\r\nNorthwind Books, 12 Harbour Street, Portsmouth\r\n"
            "You receive this message because you ordered from us.\r\n")
    return head + block_line + tail


ORDER_LINE = "  #%%2%%  %%3%%  %%4%%  EUR %%5%%\r\n"
# About 200 bytes of text and five placeholders per row.
ORDER_TEXT = ("  Order #%%2%% placed on %%3%%: \"%%4%%\", amount EUR %%5%%. Thank you for\r\n"
              "  choosing Northwind Books; the order ships from our warehouse within two\r\n"
              "  working days of the date above.\r\n")


def padded(text, size):
    """text with lines of attachment-like filler appended up to size bytes."""
    line = ("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0"
            "\r\n")
    missing = max(0, size - len(text.encode()))
    filler = line * (missing // len(line) + 1)
    return text + filler[:missing]


# ------------------------------------------------------------------ layout

class Layout:
    """Install folders, query files, messages and plans under one work folder."""

    def __init__(self, args, engine):
        self.args = args
        self.engine = engine
        self.dsn = ENGINES[engine]
        self.top = os.path.join(args.work, engine)
        os.makedirs(self.top, exist_ok=True)

    def query_file(self, name, sql):
        path = os.path.join(self.top, name + ".sql")
        with open(path, "w") as f:
            f.write(sql)
        return path

    def install(self, program, label, name, query_path):
        """A folder holding the program (as "kelvorin", so it finds
        kelvorin.INI), its INI and its query file, as a host installs it.
        Request names the query by its bare name: under Wine only a backslash
        counts as a path separator."""
        folder = os.path.join(self.top, "install-%s-%s" % (label, name))
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "kelvorin" + os.path.splitext(program)[1])
        shutil.copy2(program, target)
        shutil.copy2(query_path, os.path.join(folder, "query.sql"))
        with open(os.path.join(folder, "kelvorin.INI"), "w", newline="") as f:
            f.write("[Database]\r\nSource=%s\r\nRequest=query.sql\r\n"
                    "[Options]\r\nDeleteOnErrors=No\r\n" % self.dsn)
        return target

    def messages(self, scenario, program, texts):
        folder = os.path.join(self.top, scenario, program)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        paths = []
        for i, text in enumerate(texts):
            path = os.path.join(folder, "msg-%04d.txt" % i)
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(text)
            paths.append(path)
        return paths

    def plan(self, scenario, program, argvs):
        path = os.path.join(self.top, "%s.%s.plan" % (scenario, program))
        with open(path, "w") as f:
            for argv in argvs:
                assert not any("\t" in a or "\n" in a for a in argv), argv
                f.write("\t".join(argv) + "\n")
        return "%s=%s" % (program, path)


def programs(args, layout, name, sql):
    """The argv makers of each program for one query: recipient, message -> argv.
    Besides the three programs, two builds of Kelvorin that split its cost:
    kelvorin-shared (the shared C++ runtime, as built before) and
    kelvorin-noflush (fsync a no-op, measurement only)."""
    query_path = layout.query_file(name, sql)
    bench = os.path.join(args.build, "bench")
    builds = {"kelvorin": os.path.join(args.build, "kelvorin"),
              "kelvorin-shared": os.path.join(bench, "kelvorin_shared_runtime"),
              "kelvorin-noflush": os.path.join(bench, "kelvorin_no_flush")}
    makers = {}
    for label, program in builds.items():
        installed = layout.install(program, label, name, query_path)
        makers[label] = lambda r, m, installed=installed: [installed, m]
    floor = os.path.join(bench, "kelvorin_floor")
    # One argument on one plan line: the line breaks become spaces.
    makers["floor"] = lambda r, m: [floor, layout.dsn, "", "",
                                    sql.replace("%recipient%", r).replace("\n", " ")]
    script = os.path.join(ROOT, "bench", "merge.py")
    makers["python"] = lambda r, m: ["/usr/bin/python3", script, layout.dsn, query_path, m]
    if args.win_build:
        exe = layout.install(os.path.join(args.win_build, "kelvorin.exe"), "wine", name,
                             query_path)
        runner = os.path.join(ROOT, "cmake", "wine-run.sh")
        makers["wine"] = lambda r, m: [runner, exe, m]
    return makers


def prepare(layout, scenario, makers, cases, which):
    """cases: [(recipient, message text)]. Returns the LABEL=PLAN arguments."""
    plan_args = []
    for program in which:
        texts = [text for _, text in cases]
        paths = layout.messages(scenario, program, texts)
        argvs = [makers[program](r, p) for (r, _), p in zip(cases, paths)]
        plan_args.append(layout.plan(scenario, program, argvs))
    return plan_args


# ------------------------------------------------------------------ running

def run_timed(args, experiment, plan_args, block):
    out = os.path.join(args.results, experiment + ".tsv")
    if os.path.exists(out):
        os.remove(out)
    driver = os.path.join(args.build, "bench", "kelvorin_run_timed")
    print("  %s: %s" % (experiment, " ".join(s.split("=")[0] for s in plan_args)), flush=True)
    with open(os.path.join(args.results, "load.txt"), "a") as f:
        f.write("%s\t%s\n" % (experiment, open("/proc/loadavg").read().split()[0]))
    subprocess.run([driver, "--block", str(block), "--out", out] + plan_args, check=True)
    return out


def verify(layout, scenario, programs_run, rows):
    """Every merged message must hold its rows and no marker or placeholder."""
    for program in programs_run:
        if program == "floor":
            continue  # it writes nothing; its exit status tells its outcome
        folder = os.path.join(layout.top, scenario, program)
        for name in sorted(os.listdir(folder)):
            if name.startswith("."):
                sys.exit("bench: a temporary file was left behind: %s/%s" % (folder, name))
            with open(os.path.join(folder, name), encoding="utf-8", newline="") as f:
                text = f.read()
            if "%kelvorin%" in text or "%%" in text or text.count("\r\n") < rows:
                sys.exit("bench: %s/%s was not merged" % (folder, name))


def per_message(args, engine, which, count, experiment):
    layout = Layout(args, engine)
    makers = programs(args, layout, "orders", ORDERS_SQL)
    cases = [("customer%d@example.com" % (i % CUSTOMERS + 1),
              mail("customer%d@example.com" % (i % CUSTOMERS + 1), ORDER_LINE))
             for i in range(count)]
    plan_args = prepare(layout, experiment, makers, cases, which)
    block = min(args.turn, count)
    if experiment == "permsg":  # the report pairs the turns of this one
        with open(os.path.join(args.results, "turn.txt"), "w") as f:
            f.write(str(block))
    run_timed(args, "%s-%s" % (experiment, engine), plan_args, block=block)
    verify(layout, experiment, which, 3)


def growth(args, engine, which):
    layout = Layout(args, engine)
    runs = args.growth_runs
    orders = programs(args, layout, "orders", ORDERS_SQL)
    for n in ROW_STEPS:
        r = "rows%d@example.com" % n
        text = mail(r, ORDER_TEXT)
        plan_args = prepare(layout, "rows%d" % n, orders, [(r, text)] * runs, which)
        run_timed(args, "rows-%s-%d" % (engine, n), plan_args, block=1)
        verify(layout, "rows%d" % n, which, n)
    for n in COLUMN_STEPS:
        makers = programs(args, layout, "wide%d" % n, wide_sql(n))
        line = " | ".join("%%%%%d%%%%" % c for c in range(1, n + 1)) + "\r\n"
        text = mail("wide@example.com", line)
        cases = [("wide@example.com", text)] * runs
        plan_args = prepare(layout, "cols%d" % n, makers, cases, which)
        run_timed(args, "cols-%s-%d" % (engine, n), plan_args, block=1)
        verify(layout, "cols%d" % n, which, WIDE_ROWS)
    for size in SIZE_STEPS:
        r = "customer1@example.com"
        text = padded(mail(r, ORDER_LINE), size)
        plan_args = prepare(layout, "size%d" % size, orders, [(r, text)] * runs, which)
        run_timed(args, "size-%s-%d" % (engine, size), plan_args, block=1)
        verify(layout, "size%d" % size, which, 3)


def merge_alone(args):
    bench = os.path.join(args.build, "bench", "kelvorin_merge_bench")
    out = os.path.join(args.results, "merge.txt")
    dirs = [args.work] + (["/dev/shm"] if os.access("/dev/shm", os.W_OK) else [])
    with open(out, "w") as f:
        for directory in dirs:
            # A typical message first: what the crash-safe rewrite itself costs.
            for case in (["3", "5", "--block", "text"], ["5000", "5", "--block", "text"],
                         ["5000", "64", "--block", "wide"],
                         ["5000", "64", "--block", "wide", "--no-wrap"]):
                command = [bench] + case + ["--dir", directory, "--runs", str(args.merge_runs)]
                print("  merge: %s" % " ".join(command[1:]), flush=True)
                result = subprocess.run(command, check=True, capture_output=True, text=True)
                f.write("DIR %s\n%s" % (directory, result.stdout))


def callgrind(args, name, command, extra=()):
    """One run under callgrind (instructions, repeatable); the annotated
    summary goes beside the raw file in RESULTS/profile/."""
    folder = os.path.join(args.results, "profile")
    os.makedirs(folder, exist_ok=True)
    raw = os.path.join(folder, name + ".callgrind")
    print("  profile: %s" % name, flush=True)
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + raw] + list(extra)
                   + command, check=True, capture_output=True)
    with open(os.path.join(folder, name + ".txt"), "w") as f:
        subprocess.run(["callgrind_annotate", "--auto=no", "--threshold=100", raw], check=True,
                       stdout=f, stderr=subprocess.DEVNULL)


def instruction_growth(args):
    """Kelvorin's instructions at the three largest points of each growth
    series: unlike times on a shared machine, counts are exact, so they tell
    linear from quadratic growth. RESULTS/growth-instructions.tsv gets one
    line per point: kind, engine, step, instructions."""
    folder = os.path.join(args.results, "profile", "growth")
    os.makedirs(folder, exist_ok=True)
    out = open(os.path.join(args.results, "growth-instructions.tsv"), "w")
    for engine in ENGINES:
        layout = Layout(args, engine)
        orders = programs(args, layout, "orders", ORDERS_SQL)
        cases = [("rows", n, orders, "rows%d@example.com" % n,
                  mail("rows%d@example.com" % n, ORDER_TEXT)) for n in ROW_STEPS[-3:]]
        for n in COLUMN_STEPS:
            line = " | ".join("%%%%%d%%%%" % c for c in range(1, n + 1)) + "\r\n"
            cases.append(("cols", n, programs(args, layout, "wide%d" % n, wide_sql(n)),
                          "wide@example.com", mail("wide@example.com", line)))
        r = "customer1@example.com"
        cases += [("size", size, orders, r, padded(mail(r, ORDER_LINE), size))
                  for size in SIZE_STEPS[-3:]]
        for kind, step, makers, recipient, text in cases:
            name = "%s-%s-%d" % (kind, engine, step)
            message = layout.messages("count-" + name, "kelvorin", [text])[0]
            raw = os.path.join(folder, name + ".callgrind")
            print("  instructions: %s" % name, flush=True)
            subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + raw]
                           + makers["kelvorin"](recipient, message), check=True,
                           capture_output=True)
            out.write("%s\t%s\t%d\t%d\n" % (kind, engine, step, callgrind_total(raw)))
    out.close()


def callgrind_total(raw):
    with open(raw) as f:
        for line in f:
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1])
    raise ValueError("no total in " + raw)


def profile(args):
    for engine in ENGINES:
        layout = Layout(args, engine)
        makers = programs(args, layout, "orders", ORDERS_SQL)
        r = "customer1@example.com"
        for program in ("kelvorin", "floor"):
            message = layout.messages("profile", program, [mail(r, ORDER_LINE)])[0]
            callgrind(args, "%s-%s" % (program, engine), makers[program](r, message))
    bench = os.path.join(args.build, "bench", "kelvorin_merge_bench")
    only_merge = ["--toggle-collect=*WriteMergedMessage*"]
    for name, case in (("merge-text-5000", ["5000", "5", "--block", "text"]),
                       ("merge-wide-5000x64", ["5000", "64", "--block", "wide"])):
        callgrind(args, name, [bench] + case + ["--dir", args.work, "--runs", "1"], only_merge)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the Linux Release build folder")
    parser.add_argument("--win-build", help="the Windows build folder (for the Wine figure)")
    parser.add_argument("--work", required=True, help="a scratch folder on the disk measured")
    parser.add_argument("--results", required=True)
    parser.add_argument("--only", default="data,permsg,wine,growth,merge,profile",
                        help="comma-separated steps (default: all)")
    parser.add_argument("--runs", type=int, default=500, help="messages per program and engine")
    parser.add_argument("--wine-runs", type=int, default=100)
    parser.add_argument("--turn", type=int, default=10,
                        help="messages per program before the next program's turn")
    parser.add_argument("--growth-runs", type=int, default=21)
    parser.add_argument("--merge-runs", type=int, default=21)
    args = parser.parse_args()
    for name in ("build", "win_build", "work", "results"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    steps = args.only.split(",")
    os.makedirs(args.results, exist_ok=True)
    os.makedirs(args.work, exist_ok=True)
    three = ["floor", "kelvorin", "python"]
    if "data" in steps:
        for engine, dsn in ENGINES.items():
            print("  data: %s" % dsn, flush=True)
            create_data(dsn)
    if "permsg" in steps:
        split = ["floor", "kelvorin", "kelvorin-shared", "kelvorin-noflush", "python"]
        for engine in ENGINES:
            per_message(args, engine, split, args.runs, "permsg")
    if "wine" in steps and args.win_build:
        for engine in ENGINES:
            per_message(args, engine, ["kelvorin", "wine"], args.wine_runs, "wine")
    if "growth" in steps:
        for engine in ENGINES:
            growth(args, engine, three)
    if "merge" in steps:
        merge_alone(args)
    if "profile" in steps:
        profile(args)
        instruction_growth(args)


if __name__ == "__main__":
    main()

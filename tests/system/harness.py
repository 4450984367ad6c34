"""Runs the built program the way the mailing host does: from a fresh folder
that holds a copy of it, its INI, query file and message, once per message.
A run hands back the message (None when deleted), the log entries, stdout
and the files it left. Set by tests/system/CMakeLists.txt:
  KELVORIN_PROGRAM  the program; KELVORIN_RUNNER runs it (Wine for the .exe)
  KELVORIN_DSN      the data source of the table (ODBCINI, ODBCSYSINI name it)
  KELVORIN_IO_SHIM  io_shim.c built for LD_PRELOAD"""
import os, re, shutil, signal, subprocess, tempfile, unittest
from types import SimpleNamespace
import pyodbc

PROG, RUNNER = os.environ['KELVORIN_PROGRAM'], os.environ.get('KELVORIN_RUNNER')
DSN = os.environ.get('KELVORIN_DSN', 'kelvorin_sqlite')
SHIM = os.environ.get('KELVORIN_IO_SHIM')
DONE, OK1, OK2 = 'Complete!', 'SQL OK (1)', 'SQL OK (2)'
DELETED = '--- Errors occured, message was deleted'
DIAG = '<diag>'  # in an expected log: one or more ODBC records; DIAG + '01004' names a state
HEAD = 'Subject: Your orders\r\n<<< ann@example.com\r\n'
KEEP = '[Options]\r\nDeleteOnErrors=No\r\n'
NOBODY = ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups']
STAMP = re.compile(r'([01]\d|2[0-3]):[0-5]\d:[0-5]\d (0[1-9]|[12]\d|3[01])-(0[1-9]|1[0-2])-\d{4} ')
RECORD = [r'ERROR: SQL state - [0-9A-Z]{5}', r'ERROR: SQL native error is -?\d+',
          r'ERROR: SQL message - [\s\S]+']  # driver messages may span lines

# What differs between the engines, by the DBMS name their drivers report.
# u8: a text of exactly the UTF-8 bytes given in hex. email: a column that
# compares byte for byte (MariaDB's default collation would match
# BOB@EXAMPLE.COM and "bob@example.com " to bob's rows). ts: MariaDB shows
# as many fraction digits as its DATETIME has. cat: its || is OR.
# long: a text of more than 64 KB. escapes: a backslash escapes the quote
# after it inside literals.
DIALECTS = {n: dict(zip(('dbl', 'ts', 'u8', 'email', 'user', 'cat', 'long', 'escapes'), v))
            for n, v in {
    'SQLite': ('DOUBLE', 'DATETIME', "CAST(X'%s' AS TEXT)", 'TEXT', None, "'No. ' || v", 'TEXT',
               False),
    'PostgreSQL': ('DOUBLE PRECISION', 'TIMESTAMP', "convert_from(decode('%s', 'hex'), 'UTF8')",
                   'VARCHAR(1000)', 'CURRENT_USER', "'No. ' || v", 'TEXT', False),
    'MariaDB': ('DOUBLE', 'DATETIME(1)', "CONVERT(X'%s' USING utf8mb4)",
                'VARCHAR(1000) COLLATE utf8mb4_nopad_bin', "SUBSTRING_INDEX(CURRENT_USER(), '@', 1)",
                "CONCAT('No. ', v)", 'MEDIUMTEXT', True)}.items()}


def raw(text):
    """The bytes of a text; surrogate escapes stand for bytes that are not UTF-8."""
    return text if isinstance(text, bytes) else text.encode('utf-8', 'surrogateescape')


def text(data):
    return data.decode('utf-8', 'surrogateescape')


def ini(db='', opts='', source=None):
    return '[Database]\r\nSource=%s\r\n%sRequest=query.sql\r\n%s' % (source or DSN, db, opts)


def per(value, dbms):
    """A row's value for one engine: a dict names engines, '*' the others."""
    return value.get(dbms, value.get('*')) if isinstance(value, dict) else value


def put(folder, name, data):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(raw(data))


def read(path):
    with open(path, 'rb') as f:
        return text(f.read())


def drain(f):
    f.seek(0)
    data = f.read()
    f.close()
    return text(data)


def entries(log, folder, strict=False):
    """The log's entries: each line stamped and ended by CR LF. A line without
    a stamp continues the entry before it (a query spans lines) unless strict.
    The program's folder, a Unix or a Wine path, reads as <dir>/."""
    assert log.endswith('\r\n'), 'log does not end with CR LF: %r' % log[-80:]
    out = []
    for line in log[:-2].split('\r\n'):
        if STAMP.match(line):
            out.append(line[20:])
        else:
            assert out and not strict, 'line without a time stamp: %r' % line
            out[-1] += '\r\n' + line
    return [re.sub(r'\S*%s[/\\]' % re.escape(os.path.basename(folder)), '<dir>/', e) for e in out]


class Db:
    """The tests' own connection, through the program's driver manager and drivers."""
    def __init__(self, dsn=DSN):
        self.c = pyodbc.connect('DSN=' + dsn, autocommit=True)
        self.c.setdecoding(pyodbc.SQL_CHAR, encoding='utf-8')
        if self.c.getinfo(pyodbc.SQL_DRIVER_NAME) in ('libsqlite3odbc.so', 'psqlodbca.so'):
            self.c.setencoding('utf-8')  # their wide calls lose characters beyond 16 bits
        self.dbms = self.c.getinfo(pyodbc.SQL_DBMS_NAME)
        self.d, self.t = DIALECTS[self.dbms], 'k%d' % os.getpid()  # tables of this process

    def fill(self, sql):
        """{t}, {t2}: this process's tables; {u8:HEX}, {dbl}, ...: the dialect's terms."""
        sql = re.sub(r'\{t(\d?)\}', lambda m: self.t + m[1], sql)
        sql = re.sub(r'\{u8:(\w*)\}', lambda m: self.d['u8'] % m[1], sql)
        return re.sub(r'\{(dbl|ts|email|user|cat|long)\}', lambda m: self.d[m[1]], sql)

    def rows(self, sql):
        """The rows of every result of sql (so that all its statements run)."""
        cur, out = self.c.execute(self.fill(sql)), []
        while True:
            out += [tuple(r) for r in cur.fetchall()] if cur.description else []
            if not cur.nextset():
                return out

    def drop(self, *tables):
        for t in tables:
            self.rows('DROP TABLE IF EXISTS {%s}' % t)


def u8(s):
    return '{u8:%s}' % raw(s).hex().upper()


class Case(unittest.TestCase):
    maxDiff = 4000

    def folder(self):
        d = tempfile.mkdtemp(prefix='kelvorin-sys-')
        os.chmod(d, 0o755)  # runs as nobody must enter it
        self.addCleanup(shutil.rmtree, d, True)
        shutil.copy(PROG, d)
        return d

    def start(self, files, args=('msg.txt',), env=None, prefix=(), arrange=None, d=None, **popen):
        """Starts the program on files ({name: text}) in a fresh folder."""
        d = d or self.folder()
        for name, data in files.items():
            put(d, name, data)
        if arrange:
            arrange(d)
        argv = list(prefix) + [RUNNER] * bool(RUNNER) + [os.path.join(d, os.path.basename(PROG))]
        argv += args
        # Files, not pipes: Wine's server outlives the run and would hold a pipe open.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        p = subprocess.Popen(argv, cwd=d, env={**os.environ, **(env or {})}, start_new_session=True,
                             stdin=subprocess.DEVNULL, stdout=out, stderr=err, **popen)
        p.d, p.files, p.out, p.err = d, files, out, err
        return p

    def finish(self, p, killed=False, path='msg.txt'):
        """Waits for a started run (a hang is killed) and gathers what it left."""
        try:
            p.wait(timeout=180)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            raise AssertionError('the run did not end')
        out, err = map(drain, (p.out, p.err))
        self.assertEqual(p.returncode, -signal.SIGKILL if killed else 0, err)
        d, log = p.d, os.path.join(p.d, 'kelvorin.LOG')
        left = sorted(os.path.relpath(os.path.join(r, f), d) for r, _, fs in os.walk(d) for f in fs)
        return SimpleNamespace(
            msg=read(os.path.join(d, path)) if os.path.lexists(os.path.join(d, path)) else None,
            log=entries(read(log), d) if os.path.exists(log) else None, out=out, d=d,
            left=[f for f in left if f not in p.files and f not in ('kelvorin.LOG', os.path.basename(PROG))])

    def run_prog(self, files, path='msg.txt', killed=False, **start):
        return self.finish(self.start(files, **start), killed, path)

    def at_once(self, d, arg_lists):
        """One run per argument list from folder d, all held at a gate until the
        last has started (else they would trickle in at the pace of fork)."""
        gate, go = os.pipe()
        wait = ['sh', '-c', 'read _ <&%d; exec "$0" "$@"' % gate]  # reads until go is closed
        runs = [self.start({}, args, d=d, prefix=wait, pass_fds=[gate]) for args in arg_lists]
        os.close(go)
        os.close(gate)
        return [self.finish(p, path=args[0]) for p, args in zip(runs, arg_lists)]

    def check(self, r, msg, log, left=()):
        """msg None: deleted. log None: no log at all; DIAG in it: one or more records."""
        if r.msg != msg:  # shown where it starts to differ, not as two long texts
            at = next((i for i, (a, b) in enumerate(zip(r.msg or '', msg or '')) if a != b),
                      min(len(r.msg or ''), len(msg or '')))
            self.fail('message (None: deleted) differs at %d: %r, expected %r' % (
                at, r.msg and r.msg[max(0, at - 30):at + 50], msg and msg[max(0, at - 30):at + 50]))
        self.assertEqual(r.left, list(left), 'files left behind')
        at = [i for i, e in enumerate(log or []) if e.startswith(DIAG)]
        if not at:
            return self.assertEqual(r.log, log)
        i, tail = at[0], len(log) - at[0] - 1
        self.assertEqual((r.log[:i], r.log[len(r.log) - tail:]), (log[:i], log[i + 1:]), r.log)
        records = r.log[i:len(r.log) - tail]
        self.assertTrue(records and len(records) % 3 == 0, records)
        for k, e in enumerate(records):
            self.assertRegex(e, '^%s$' % RECORD[k % 3])
        if log[i] != DIAG:
            self.assertIn('ERROR: SQL state - ' + log[i][len(DIAG):], records)

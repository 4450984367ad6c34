"""Runs a built program as the mailing host does, from a fresh folder with its INI, query file and
message, and hands back what the run left. KELVORIN_PROGRAM: the program (kelvorin-check beside it);
KELVORIN_RUNNER: what runs it (Wine for the .exe); KELVORIN_DSN: a table's data source."""
import os, pathlib, re, shutil, signal, subprocess, sys, tempfile, unittest
from types import SimpleNamespace
try:  # status 77: ctest reports the table skipped
    import pyodbc
    from hypothesis import HealthCheck, assume, example, given, settings, strategies as st
except ImportError as e:
    sys.exit(print('skipped: %s (Debian: python3-pyodbc, python3-hypothesis)' % e) or 77)

PROG, RUNNER = os.environ['KELVORIN_PROGRAM'], os.environ.get('KELVORIN_RUNNER')
EXE = '.exe' if PROG.endswith('.exe') else ''  # the copies keep their names: they name INI and log
NAME, CHECK = 'kelvorin' + EXE, 'kelvorin-check' + EXE
DSN = os.environ.get('KELVORIN_DSN', 'kelvorin_sqlite')
SOURCES = pathlib.Path(os.environ['ODBCINI'])
if not SOURCES.exists():  # scripts/test.sh removes it as it stops the servers
    raise SystemExit('no test data sources (%s): scripts/test.sh starts them' % SOURCES)
if not re.search(r'^\[%s\]' % DSN, SOURCES.read_text(), re.M):  # plain ctest: SQLite alone
    sys.exit(print('skipped: no data source %s in %s; scripts/test.sh starts the servers'
                   % (DSN, SOURCES)) or 77)
# A fixed set of generated examples; KELVORIN_PROPERTY_EXAMPLES=N explores N new ones.
EXPLORE = int(os.environ.get('KELVORIN_PROPERTY_EXAMPLES', 0))
settings.register_profile('kelvorin', deadline=None, database=None, derandomize=not EXPLORE,
                          max_examples=EXPLORE or (8 if EXE else 30 if os.environ.get(
                              'ASAN_OPTIONS') else 120), print_blob=True,  # Wine, sanitizers: slow
                          suppress_health_check=list(HealthCheck))
settings.load_profile('kelvorin')
DONE, OK1, OK2 = 'Complete!', 'SQL OK (1)', 'SQL OK (2)'
PROCESS, DELETED = '+++ Process: msg.txt', '--- Errors occured, message was deleted'
DIAG = '<diag>'  # in an expected log: one or more ODBC records; DIAG + '01004' names a state
CAUSE = '<cause>'  # CAUSE + 'open x': the OS's reason, in its own words, why "open x" failed
HEAD, KEEP = 'Subject: Your orders\r\n<<< ann@example.com\r\n', '[Options]\r\nDeleteOnErrors=No\r\n'
STAMP = r'(?:[01]\d|2[0-3]):[0-5]\d:[0-5]\d (?:0[1-9]|[12]\d|3[01])-(?:0[1-9]|1[0-2])-\d{4} '
RECORD = r'ERROR: SQL state - %s\0ERROR: SQL native error is -?\d+\0ERROR: SQL message - [^\0]+'

# The engines' differences, by the DBMS name their drivers report. u8: exactly the UTF-8 bytes in
# hex; email: byte for byte (MariaDB's default matches "BOB@EXAMPLE.COM " to bob); long: 64 KiB.
DIALECTS = {n: dict(zip(('u8', 'email', 'user', 'long'), v)) for n, v in {
    'SQLite': ("CAST(X'%s' AS TEXT)", 'TEXT', None, "printf('%.65536c', 'x')"),
    'PostgreSQL': ("convert_from(decode('%s', 'hex'), 'UTF8')", 'TEXT', 'CURRENT_USER',
                   "repeat('x', 65536)"),
    'MariaDB': ("CONVERT(X'%s' USING utf8mb4)", 'TEXT COLLATE utf8mb4_nopad_bin',
                "SUBSTRING_INDEX(CURRENT_USER(), '@', 1)", "repeat('x', 65536)")}.items()}


def ini(db='', opts='', source=None):
    return '[Database]\r\nSource=%s\r\n%sRequest=query.sql\r\n%s' % (source or DSN, db, opts)


def raw(text):  # its bytes: surrogate escapes stand for bytes that are not UTF-8
    return text.encode('utf-8', 'surrogateescape')


def u8(s):
    return '{u8:%s}' % raw(s).hex().upper()


def read(path):  # None: no such file
    try:
        return pathlib.Path(path).read_bytes().decode('utf-8', 'surrogateescape')
    except FileNotFoundError:
        return None


def shell(sh, **more):  # sh run as root in the program's folder; a tmpfs it mounts goes after
    def arrange(d, t):
        t.addCleanup(subprocess.run, ['umount', '-ql', d + '/spool'])
        subprocess.run(sh, shell=True, cwd=d, check=True)
    return dict(arrange=arrange, root=True, **more)


def nobody(sh, **more):  # all but what sh takes away again handed to nobody
    return shell('chown -R nobody:nogroup . && ' + sh, **more,
                 prefix=['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'])


def shim(plan, match='*spool/.*', **more):  # by default the temporary file beside the message
    return dict(**more, env={
        'LD_PRELOAD': os.environ['KELVORIN_IO_SHIM'], 'KELVORIN_FAULT': plan + ':' + match})


def entries(log, folder):
    """The log's entries, stamps dropped: every line ends with CR LF, one without a stamp continues
    the entry before it (a query spans lines). The program's folder (Unix or Wine) reads <dir>/."""
    assert re.match(STAMP, log) and log.endswith('\r\n'), 'log unstamped or not ended by CR LF'
    return [re.sub(r'\S*%s[/\\]' % re.escape(os.path.basename(folder)), '<dir>/', e[20:])
            for e in re.split('\r\n(?=%s)' % STAMP, log[:-2])]


class Db:
    """The tests' own connection, through the program's driver manager and drivers."""
    def __init__(self, dsn=DSN):
        self.c = pyodbc.connect('DSN=' + dsn, autocommit=True)
        self.c.setdecoding(pyodbc.SQL_CHAR, encoding='utf-8')
        self.dbms = self.c.getinfo(pyodbc.SQL_DBMS_NAME)
        self.d = dict(DIALECTS[self.dbms], t='k%d' % os.getpid())  # the table of this process

    def fill(self, sql):
        """{t}: this process's table; {u8:HEX}, {email}, ...: the dialect's terms."""
        sql = re.sub(r'\{u8:(\w*)\}', lambda m: self.d['u8'] % m[1], sql)
        return re.sub(r'\{(\w+)\}', lambda m: self.d[m[1]], sql)

    def rows(self, *statements):  # the rows of the last
        for sql in statements:
            cur = self.c.execute(self.fill(sql))
        return [tuple(r) for r in cur.fetchall()] if cur.description else []


class Case(unittest.TestCase):
    def folder(self):  # with both programs
        d = tempfile.mkdtemp(prefix='kelvorin-sys-')
        os.chmod(d, 0o755)  # runs as nobody must enter it
        self.addCleanup(shutil.rmtree, d, True)
        shutil.copy(PROG, os.path.join(d, NAME))
        shutil.copy(os.path.join(os.path.dirname(PROG), CHECK), d)
        return d

    def start(self, files, args=('msg.txt',), env=None, prefix=(), arrange=None, d=None, prog=NAME,
              **popen):
        """Starts the program (or prog) on files ({name: text}) in folder d or a fresh one."""
        d = d or self.folder()
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(d, name)), exist_ok=True)
            pathlib.Path(d, name).write_bytes(raw(data))
        if arrange:
            arrange(d, self)
        argv = list(prefix) + [RUNNER] * bool(RUNNER) + [os.path.join(d, prog)] + list(args)
        # Files, not pipes: Wine's server outlives the run and would hold a pipe open.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        p = subprocess.Popen(argv, cwd=d, env={**os.environ, **(env or {})}, stdout=out, stderr=err,
                             stdin=subprocess.DEVNULL, start_new_session=True, **popen)
        p.d, p.files, p.io = d, files, (out, err)
        return p

    def finish(self, p, path='msg.txt', status=0):
        """Waits for the run (killing a hang), checks its status (None: any), sees what it left."""
        try:
            p.wait(timeout=180)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            raise
        out, err = (read('/dev/fd/%d' % f.fileno()) for f in p.io)  # each read from its start
        for f in p.io:
            f.close()
        if status is not None:
            self.assertEqual(p.returncode, status, err)
        d, log = p.d, read(os.path.join(p.d, 'kelvorin.LOG'))
        left = [os.path.relpath(os.path.join(r, f), d) for r, _, fs in os.walk(d) for f in fs]
        return SimpleNamespace(
            msg=read(os.path.join(d, path)), log=log and entries(log, d), out=out, err=err, d=d,
            left=sorted(re.sub(r'kelvorin-\w{6}$', 'kelvorin-XXXXXX', f) for f in left if f not in
                        {'kelvorin.LOG', NAME, CHECK, *p.files}))  # a temporary file by its pattern

    def run_prog(self, files, path='msg.txt', status=0, **start):
        return self.finish(self.start(files, **start), path, status)

    def rows(self, rows, **defaults):
        """Each row: its name, log (None: no log), msg (afterwards; None: deleted) and what differs
        from defaults; root=True: only as root."""
        for row in rows:
            row = {**defaults, **row}
            with self.subTest(row.pop('name', row.get('args'))):
                if row.get('root') and os.geteuid() != 0:
                    self.skipTest('needs root')
                self.row(**row)

    def row(self, log, msg, ini, query, message, path='msg.txt', args=None, files={}, left=(),
            out='', says='', root=False, **start):
        files = {'kelvorin.INI': ini, 'query.sql': query, path: message, **files}
        r = self.run_prog({k: v for k, v in files.items() if v is not None}, path=path,
                          args=[path] if args is None else args, **start)
        self.check(r, msg, log, left)
        self.assertTrue(re.fullmatch(out, r.out.replace('\r', '')) and says in r.out + r.err,
                        r.out + r.err)

    def check(self, r, msg, log, left=()):
        """msg None: deleted. log None: no log at all; DIAG, CAUSE in it: as they say."""
        at = max(0, len(os.path.commonprefix([r.msg or '', msg or ''])) - 30)  # where they part
        self.assertTrue(r.msg == msg, 'message (None: deleted): %r, expected %r' % (
            r.msg and r.msg[at:at + 80], msg and msg[at:at + 80]))
        self.assertEqual((r.left, r.log is None), (list(left), log is None), 'files left, log')
        any_ = RECORD % '[0-9A-Z]{5}'  # whole records, one of them with the state asked for
        want = ['(%s\0)*%s(\0%s)*' % (any_, RECORD % (e[len(DIAG):] or '[0-9A-Z]{5}'), any_)
                if e.startswith(DIAG) else 'ERROR: [^\0]+ ' + re.escape('[%s]' % e[len(CAUSE):])
                if e.startswith(CAUSE) else re.escape(e) for e in log or []]
        self.assertRegex('\0'.join(r.log or []), r'\A%s\Z' % '\0'.join(want))

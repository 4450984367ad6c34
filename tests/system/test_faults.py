"""Faults around the Linux program: a failing disk (io_shim.c, or a small tmpfs
that fills up), a kill at each step of the rewrite, files and folders it may
not read or write, odd messages, PostgreSQL losing the connection mid-fetch,
and 200 instances at once. The message lies in a folder of its own (spool/),
so that it and the program's folder can get different rights or disks."""
import collections, os, random, re, subprocess, time
from harness import Case, Db, DELETED, DIAG, DONE, KEEP, NOBODY, OK2, SHIM, ini, put, read

HEAD = 'From: Shop <shop@example.com>\r\nSubject: Your items\r\n<<< ann@example.com\r\n\r\n'
BODY = 'First: %%2%%.\r\n%kelvorin%\r\n  No. %%1%%: %%2%%\r\n%kelvorin%\r\nLast: %%1%%.\r\n'
ITEM = 'item %d ' + 'x' * 600  # 5000 rows, 3.2 MB: three writes (head, rows, tail)
MERGED = 'First: %s.\r\n%sLast: 1.\r\n' % (ITEM % 1, ''.join(
    '  No. %d: %s\r\n' % (n, ITEM % n) for n in range(1, 5001)))
QUERY = "SELECT n, item FROM {t} WHERE email = '%recipient%' ORDER BY n"
P, Q = '+++ Process: spool/msg.txt', '<query>'  # Q: the query as logged
WRITE, LOAD = 'ERROR: file writing error', "ERROR: can't load file "
CONF = 'ERROR: configuration file reading error [Database -> Source] <dir>/kelvorin.INI'
FILLER = ('f' * 62 + '\r\n') * (100 << 14)  # 100 MB
NOISE = ''.join(random.Random(1).choices([chr(b) for b in range(1, 256) if b != 37], k=65536))


def shim(plan, match='*spool/.*'):  # by default the temporary file beside the message
    return dict(env={'LD_PRELOAD': SHIM, 'KELVORIN_FAULT': plan, 'KELVORIN_FAULT_MATCH': match},
                killed=plan.split(':')[2] in ('kill', 'after'))


def tmpfs(options):
    def arrange(d, t):
        subprocess.run(['mount', '-t', 'tmpfs', '-o', options, 'tmpfs', d + '/spool'], check=True)
        t.addCleanup(subprocess.run, ['umount', '-l', d + '/spool'])
        put(d, 'spool/msg.txt', HEAD + BODY)
    return dict(arrange=arrange)


def nobody(*rights):
    """As user nobody, all handed to nobody but the rights a row takes away:
    (path, mode), or (path, None) to hand path to root."""
    def arrange(d, t):
        subprocess.run(['chown', '-R', 'nobody:nogroup', d], check=True)
        for path, mode in rights:
            os.chown(d + '/' + path, 0, 0) if mode is None else os.chmod(d + '/' + path, mode)
    return dict(arrange=arrange, prefix=NOBODY)


FAULTS = [  # name, how it runs, DeleteOnErrors, log after the process line, message, files left
    ('first write: no space', shim('write:1:fail:28'), 'Yes', [Q, OK2, WRITE, DELETED], None, 0),
    ('second write: I/O error', shim('write:2:fail:5'), 'No', [Q, OK2, WRITE], BODY, 0),
    ('last write: no space', shim('write:3:fail:28'), 'No', [Q, OK2, WRITE], BODY, 0),
    ('short write, then no space', shim('write:2:short:28'), 'No', [Q, OK2, WRITE], BODY, 0),
    ('flush: I/O error', shim('fsync:1:fail:5'), 'No', [Q, OK2, WRITE], BODY, 0),
    ('rename: no space', shim('rename:1:fail:28'), 'No', [Q, OK2, WRITE], BODY, 0),
    # Some file systems refuse to flush a folder: the rename has happened all the same.
    ('folder flush refused', shim('fsync:1:fail:5', '*/spool'), 'Yes', [Q, OK2, DONE], MERGED, 0),
    ('disk full', tmpfs('size=64k'), 'No', [Q, OK2, WRITE], BODY, 0),
    ('no inode left', tmpfs('size=4m,nr_inodes=2'), 'Yes', [Q, OK2, WRITE, DELETED], None, 0),
    # Killed: the old text or the whole merge, never a part; the temporary file may stay.
    ('killed before write 1', shim('write:1:kill'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before write 2', shim('write:2:kill'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before flush', shim('fsync:1:kill'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before rename', shim('rename:1:kill'), 'Yes', [Q, OK2], BODY, 1),
    ('killed after rename', shim('rename:1:after'), 'Yes', [Q, OK2], MERGED, 0),
    ('killed before folder flush', shim('fsync:1:kill', '*/spool'), 'Yes', [Q, OK2], MERGED, 0),
    # A failure before the INI is read finds DeleteOnErrors on.
    ('INI unreadable', nobody(('kelvorin.INI', 0)), 'No', [CONF, DELETED], None, 0),
    ('message unreadable', nobody(('spool/msg.txt', 0)), 'No', [LOAD + 'spool/msg.txt'], BODY, 0),
    ('message read-only', nobody(('spool/msg.txt', 0o444)), 'No',
     [Q, OK2, "ERROR: can't overwrite message file"], BODY, 0),
    ('message folder not writable', nobody(('spool', None)), 'No', [Q, OK2, DONE], MERGED, 0),
    ('delete refused', nobody(('spool', None), ('query.sql', 0)), 'Yes', [LOAD + '<dir>/query.sql',
     "ERROR: can't delete message file spool/msg.txt", DELETED], BODY, 0),
    ('log not writable', nobody(('.', None)), 'Yes', None, MERGED, 0),
    # A quarantine the program may not write to: the message is deleted instead.
    ('quarantine not writable', dict(nobody(('q', None), ('query.sql', 0)), files={'q/x': ''},
                                     opts='Quarantine=q\r\n'), 'Yes',
     [LOAD + '<dir>/query.sql', "ERROR: can't quarantine message file spool/msg.txt", DELETED],
     None, 0),
    ('100 MB message', dict(message=FILLER + BODY), 'Yes', [Q, OK2, DONE], FILLER + MERGED, 0),
    # A NUL byte is a byte like any other: nothing after it is lost.
    ('NUL bytes', dict(message=NOISE + '\0%%2%%' + BODY), 'Yes', [Q, OK2, DONE],
     NOISE + '\0' + ITEM % 1 + MERGED, 0),
]


class Faults(Case):
    def test_faults(self):
        db = Db()
        self.addCleanup(db.drop, 't')
        db.drop('t')
        db.rows('CREATE TABLE {t} (email VARCHAR(60), n INTEGER, item TEXT)')
        db.rows("INSERT INTO {t} WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
                "WHERE n < 5000) SELECT 'ann@example.com', n, printf('item %d %.600c', n, 'x') "
                "FROM c")
        db.rows("INSERT INTO {t} VALUES ('bob@example.com', 0, 'not for ann')")
        query = db.fill(QUERY)
        for name, how, delete, log, body, temps in FAULTS:
            with self.subTest(name):
                how = dict(how)
                opts = '[Options]\r\nDeleteOnErrors=%s\r\n%s' % (delete, how.pop('opts', ''))
                files = {'kelvorin.INI': ini(opts=opts), 'query.sql': query,
                         'spool/msg.txt': HEAD + how.pop('message', BODY), **how.pop('files', {})}
                r = self.run_prog(files, 'spool/msg.txt', args=['spool/msg.txt'], **how)
                self.assertEqual(len(r.left), temps, r.left)
                logged = query.replace('%recipient%', 'ann@example.com')
                log = log and [P] + [logged if e == Q else e for e in log]
                self.check(r, body and HEAD + body, log, r.left)


SLEEPING = "SELECT pid FROM pg_stat_activity WHERE wait_event = 'PgSleep'"


class Pg(Case):
    """PostgreSQL ends the run's connection (its backend terminated) while the
    program reads 40,000 rows: inside the query, where the Unicode data source
    reads them all, or between two of the program's fetches from a cursor of
    100 rows (kelvorin_pg_cursor). The rows that did arrive are never merged."""
    def test_connection_lost(self):
        db, head = Db('kelvorin_pg_unicode'), 'Subject: Rows\r\n<<< ann@example.com\r\n'
        body = '%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\nEnd\r\n'
        merged = ''.join('%d %s\r\n' % (g, 'x' * 200) for g in range(1, 5001)) + 'End\r\n'
        for dsn in ('kelvorin_pg_unicode', 'kelvorin_pg_cursor'):
            for lost in (False, True):
                with self.subTest(dsn, lost=lost):
                    query = ("SELECT g, repeat('x', 200) || CASE WHEN g = 3000 THEN "
                             "pg_sleep(%d)::text ELSE '' END FROM generate_series(1, 40000) g "
                             "WHERE '%%recipient%%' <> ''" % (30 * lost))
                    p, backend = self.start({'kelvorin.INI': ini(opts=KEEP, source=dsn),
                                             'query.sql': query, 'msg.txt': head + body}), []
                    for _ in range(1500 * lost):  # until the run sleeps at row 3000
                        backend = db.rows(SLEEPING)
                        if backend or p.poll() is not None:
                            break
                        time.sleep(0.02)
                    for (pid,) in backend:
                        db.rows('SELECT pg_terminate_backend(%d)' % pid)
                    r, logged = self.finish(p), query.replace('%recipient%', 'ann@example.com')
                    self.assertEqual(bool(backend), lost, 'the run never reached row 3000')
                    self.check(r, head + (body if lost else merged),
                               ['+++ Process: msg.txt', logged] + ([DIAG] if lost else [OK2, DONE]))


class Many(Case):
    """200 instances at once (KELVORIN_CONCURRENT_RUNS), as a busy host starts
    them, from one program folder (one INI, one log) against one SQLite
    database: every message gets exactly its own rows, every log line is
    there once, whole and stamped."""
    def test_at_once(self):
        n, db = int(os.environ.get('KELVORIN_CONCURRENT_RUNS', 200)), Db('kelvorin_sqlite')
        self.addCleanup(db.drop, 't')
        db.drop('t')
        db.rows('CREATE TABLE {t} (email VARCHAR(60), n INTEGER, item VARCHAR(20))')
        db.rows('INSERT INTO {t} VALUES ' + ', '.join("('r%d@example.com', %d, 'R%d-%d')" % (
            i, k, i, k) for i in range(n) for k in (1, 2, 3)))
        d, query = self.folder(), db.fill("SELECT item, n FROM {t} WHERE email = '%recipient%'")
        put(d, 'kelvorin.INI', ini())
        put(d, 'query.sql', query)
        for i in range(n):
            put(d, 'spool/%d.txt' % i, 'Run\r\n<<< r%d@example.com\r\n' % i + '%kelvorin%\r\n'
                '%%2%%: %%1%%\r\n%kelvorin%\r\n')
        begin = time.time()
        runs, end = self.at_once(d, [['spool/%d.txt' % i] for i in range(n)]), time.time()
        for i, r in enumerate(runs):
            self.assertEqual(r.msg, 'Run\r\n<<< r%d@example.com\r\n' % i + ''.join(
                '%d: R%d-%d\r\n' % (k, i, k) for k in (1, 2, 3)))
        log = read(d + '/kelvorin.LOG')
        lines = re.findall(r'(\d\d:\d\d:\d\d \d\d-\d\d-\d{4}) ([^\r\n]+)\r\n', log)
        self.assertEqual(''.join('%s %s\r\n' % m for m in lines), log, 'mixed, cut or unstamped')
        stamps = [time.mktime(time.strptime(stamp, '%H:%M:%S %d-%m-%Y')) for stamp, _ in lines]
        self.assertTrue(begin - 1 <= min(stamps) and max(stamps) <= end + 1, 'stamps not now')
        texts = [t for _, t in lines]
        want = [['+++ Process: spool/%d.txt' % i, query.replace('%recipient%', 'r%d@example.com'
                                                                 % i), OK2, DONE] for i in range(n)]
        self.assertEqual(collections.Counter(texts), collections.Counter(sum(want, [])))
        for run in want:
            self.assertLess(texts.index(run[0]), texts.index(run[1]), run[0])

    def test_quarantine_at_once(self):
        """As many failing runs into one quarantine folder: no message and no
        reason file is lost or mixed with another run's lines."""
        n, d = int(os.environ.get('KELVORIN_CONCURRENT_RUNS', 200)), self.folder()
        put(d, 'kelvorin.INI', ini(opts='[Options]\r\nQuarantine=q\r\n'))
        put(d, 'query.sql', "SELECT 1 WHERE '%recipient%' = ''")  # no rows for anyone
        put(d, 'q/earlier.txt', '')
        for i in range(n):
            put(d, 'spool/%d.txt' % i, 'Run\r\n<<< r%d@example.com\r\n' % i)
        for i, r in enumerate(self.at_once(d, [['spool/%d.txt' % i] for i in range(n)])):
            self.assertEqual(read('%s/q/%d.txt' % (d, i)), 'Run\r\n<<< r%d@example.com\r\n' % i)
            reason = re.sub(r'(^|\n)\d\d:\d\d:\d\d \d\d-\d\d-\d{4} ', r'\1',
                            read('%s/q/%d.txt.reason' % (d, i)))
            self.assertEqual(reason, '+++ Process: spool/{0}.txt\r\nSELECT 1 WHERE \'r{0}@example'
                             '.com\' = \'\'\r\nERROR: no data was retrived\r\n--- Errors occured, '
                             'message was moved to {1}/q/{0}.txt\r\n'.format(i, d), i)
        self.assertEqual(len(os.listdir(d + '/q')), 2 * n + 1)

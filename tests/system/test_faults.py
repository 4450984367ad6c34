"""Faults around the Linux program: a failing disk (io_shim.c, or a small tmpfs that fills up), a
kill at each step of the rewrite, files and folders it may not read or write, odd messages, and
200 instances at once. The message lies in a folder of its own (spool/), so that it and the
program's folder can get different rights or disks."""
import collections, functools, os, random, subprocess, time
from harness import Case, Db, DELETED, DONE, OK2, entries, ini, read

HEAD = 'From: Shop <shop@example.com>\r\nSubject: Your items\r\n<<< ann@example.com\r\n\r\n'
BODY = 'First: %%2%%.\r\n%kelvorin%\r\n  No. %%1%%: %%2%%\r\n%kelvorin%\r\nLast: %%1%%.\r\n'
ITEM = 'item %d ' + 'x' * 600  # 5000 rows, 3.2 MB: three writes (head, rows, tail)
MERGED = 'First: %s.\r\n%sLast: 1.\r\n' % (ITEM % 1, ''.join(
    '  No. %d: %s\r\n' % (n, ITEM % n) for n in range(1, 5001)))
QUERY = ("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 5000) SELECT n, "
         "printf('item %d %.600c', n, 'x') FROM c WHERE '%recipient%' = 'ann@example.com'")
P, Q = '+++ Process: spool/msg.txt', QUERY.replace('%recipient%', 'ann@example.com')
WRITE, LOAD = [Q, OK2, 'ERROR: file writing error'], "ERROR: can't load file "
CONF = 'ERROR: configuration file reading error [Database -> Source] <dir>/kelvorin.INI'
TMPFS = 'mv spool/msg.txt . && mount -t tmpfs -o %s tmpfs spool && mv msg.txt spool'  # and refill
FILLER = ('f' * 62 + '\r\n') * (100 << 14)  # 100 MB
NOISE = ''.join(random.Random(1).choices([chr(b) for b in range(1, 256) if b != 37], k=65536))


def shim(plan, match='*spool/.*'):  # by default the temporary file beside the message
    return dict(status=-9 if ':kill' in plan else 0, env={
        'LD_PRELOAD': os.environ['KELVORIN_IO_SHIM'], 'KELVORIN_FAULT': plan + ':' + match})


def nobody(sh, **more):
    """As user nobody, with all but what sh takes away again handed to nobody."""
    return dict(sh='chown -R nobody:nogroup . && ' + sh, **more,
                prefix=['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'])


FAULTS = [  # name, how it runs, DeleteOnErrors, log after the process line, message, files left
    ('first write: no space', shim('write:1:fail:28'), 'Yes', WRITE + [DELETED], None, 0),
    ('last write: no space', shim('write:3:fail:28'), 'No', WRITE, BODY, 0),
    # A write that a signal interrupts takes part of the bytes; the rest must follow.
    ('short write', shim('write:2:short:0'), 'Yes', [Q, OK2, DONE], MERGED, 0),
    ('flush: I/O error', shim('fsync:1:fail:5'), 'No', WRITE, BODY, 0),
    ('rename: no space', shim('rename:1:fail:28'), 'No', WRITE, BODY, 0),
    # Some file systems refuse to flush a folder: the rename has happened all the same.
    ('folder flush refused', shim('fsync:1:fail:5', '*/spool'), 'Yes', [Q, OK2, DONE], MERGED, 0),
    # A real disk takes part of the rows' write, then none: the write fails, the message stays.
    ('disk full', dict(sh=TMPFS % 'size=64k'), 'No', WRITE, BODY, 0),
    ('no inode left', dict(sh=TMPFS % 'nr_inodes=2'), 'Yes', WRITE + [DELETED], None, 0),
    # Killed: the old text or the whole merge, never a part; the temporary file may stay.
    ('killed before write 2', shim('write:2:kill:0'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before flush', shim('fsync:1:kill:0'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before rename', shim('rename:1:kill:0'), 'Yes', [Q, OK2], BODY, 1),
    ('killed before folder flush', shim('fsync:1:kill:0', '*/spool'), 'Yes', [Q, OK2], MERGED, 0),
    # A failure before the INI is read finds DeleteOnErrors on.
    ('INI unreadable', nobody('chmod 0 kelvorin.INI'), 'No', [CONF, DELETED], None, 0),
    ('message unreadable', nobody('chmod 0 spool/*'), 'No', [LOAD + 'spool/msg.txt'], BODY, 0),
    ('message read-only', nobody('chmod 444 spool/*'), 'No',
     [Q, OK2, "ERROR: can't overwrite message file"], BODY, 0),
    ('message folder not writable', nobody('chown root: spool'), 'No', [Q, OK2, DONE], MERGED, 0),
    ('delete refused', nobody('chown root: spool && chmod 0 query.sql'), 'Yes', [LOAD + '<dir>/'
     'query.sql', "ERROR: can't delete message file spool/msg.txt", DELETED], BODY, 0),
    ('log not writable', nobody('chown root: .'), 'Yes', None, MERGED, 0),
    # A quarantine the program may not write to: the message is deleted instead.
    ('quarantine not writable', nobody('mkdir q && chmod 0 query.sql', opts='Quarantine=q\r\n'),
     'Yes', [LOAD + '<dir>/query.sql', "ERROR: can't quarantine message file spool/msg.txt",
             DELETED], None, 0),
    ('100 MB message', dict(message=FILLER + BODY), 'Yes', [Q, OK2, DONE], FILLER + MERGED, 0),
    # A NUL byte is a byte like any other: nothing after it is lost.
    ('NUL bytes', dict(message=NOISE + '\0%%2%%' + BODY), 'Yes', [Q, OK2, DONE],
     NOISE + '\0' + ITEM % 1 + MERGED, 0),
]


class Faults(Case):
    def test_faults(self):
        for name, how, delete, log, body, temps in FAULTS:
            with self.subTest(name):
                how = dict(how)
                opts = '[Options]\r\nDeleteOnErrors=%s\r\n%s' % (delete, how.pop('opts', ''))
                files = {'kelvorin.INI': ini(opts=opts), 'query.sql': QUERY,
                         'spool/msg.txt': HEAD + how.pop('message', BODY)}
                arrange = functools.partial(self.shell, how.pop('sh', 'true'))
                r = self.run_prog(files, 'spool/msg.txt', args=['spool/msg.txt'], arrange=arrange,
                                  **how)
                self.assertEqual(len(r.left), temps, r.left)
                self.check(r, body and HEAD + body, log and [P] + log, r.left)

    def shell(self, sh, d, _):
        """Runs sh in the program's folder; a tmpfs it mounts goes after the row."""
        self.addCleanup(subprocess.run, ['umount', '-ql', d + '/spool'])
        subprocess.run(sh, shell=True, cwd=d, check=True)


class Many(Case):
    """200 instances at once (KELVORIN_CONCURRENT_RUNS), as a busy host starts them, from one
    program folder (one INI, one log) against one SQLite database: every other one merges exactly
    its own rows, the rest find none and go to one quarantine folder, each with its own log lines;
    every log line is there once, whole and stamped."""
    def test_at_once(self):
        n, db = int(os.environ.get('KELVORIN_CONCURRENT_RUNS', 200)), Db('kelvorin_sqlite')
        self.addCleanup(db.rows, 'DROP TABLE IF EXISTS {t}')
        db.rows('DROP TABLE IF EXISTS {t}', 'CREATE TABLE {t} (email TEXT, n INTEGER, item TEXT)',
                'INSERT INTO {t} VALUES ' + ', '.join("('r%d@example.com', %d, 'R%d-%d')" % (
                    i, k, i, k) for i in range(0, n, 2) for k in (1, 2, 3)))
        query = db.fill("SELECT item, n FROM {t} WHERE email = '%recipient%'")
        head = 'Run\r\n<<< r%d@example.com\r\n'
        block = '%kelvorin%\r\n%%2%%: %%1%%\r\n%kelvorin%\r\n'
        files = {'kelvorin.INI': ini(opts='[Options]\r\nQuarantine=q\r\n'), 'query.sql': query,
                 'q/earlier.txt': '', **{'spool/%d.txt' % i: head % i + block for i in range(n)}}
        begin = time.time()
        runs = self.at_once(files, ['spool/%d.txt' % i for i in range(n)])
        end, want = time.time(), []
        for i, r in enumerate(runs):
            want.append(['+++ Process: spool/%d.txt' % i,
                         query.replace('%recipient%', 'r%d@example.com' % i)])
            if i % 2:  # no rows: moved, with its own log lines beside it
                want[i] += ['ERROR: no data was retrived',
                            '--- Errors occured, message was moved to <dir>/q/%d.txt' % i]
                q = '%s/q/%d.txt' % (r.d, i)
                self.assertEqual((r.msg, read(q), entries(read(q + '.reason'), r.d)),
                                 (None, head % i + block, want[i]))
            else:
                want[i] += [OK2, DONE]
                self.assertEqual(r.msg, head % i + ''.join(
                    '%d: R%d-%d\r\n' % (k, i, k) for k in (1, 2, 3)))
        self.assertEqual(len(os.listdir(r.d + '/q')), 2 * (n // 2) + 1)
        log = read(r.d + '/kelvorin.LOG')
        texts = entries(log, r.d)  # each entry stamped: a mixed or cut line would not count
        self.assertEqual(collections.Counter(texts), collections.Counter(sum(want, [])))
        stamps = [time.mktime(time.strptime(line[:19], '%H:%M:%S %d-%m-%Y'))
                  for line in log.splitlines()]
        self.assertTrue(begin - 1 <= min(stamps) and max(stamps) <= end + 1, 'stamps not now')
        for run in want:
            self.assertLess(texts.index(run[0]), texts.index(run[1]), run[0])

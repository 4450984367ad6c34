"""Faults around the Linux program: a failing disk (io_shim.c, or a small tmpfs), rights taken away,
odd messages, 200 instances at once. The message lies in spool/, which can get other rights."""
import collections, os
from harness import (Case, Db, DELETED, DIAG, DONE, KEEP, OK2, entries, ini, nobody, read, shell,
                     shim)

HEAD = 'From: Shop <shop@example.com>\r\nSubject: Your items\r\n<<< ann@example.com\r\n\r\n'
BODY = 'First: %%2%%.\r\n%kelvorin%\r\n  No. %%1%%: %%2%%\r\n%kelvorin%\r\nLast: %%1%%.\r\n'
ITEM = 'item %d ' + 'x' * 600  # 5000 rows, 3.2 MB, written in one call
MERGED = 'First: %s.\r\n%sLast: 1.\r\n' % (ITEM % 1, ''.join(
    '  No. %d: %s\r\n' % (n, ITEM % n) for n in range(1, 5001)))
OLD, NEW = HEAD + BODY, HEAD + MERGED
QUERY = ("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 5000) SELECT n, "
         "printf('item %d %.600c', n, 'x') FROM c WHERE '%recipient%' = 'ann@example.com'")
RAN = ['+++ Process: spool/msg.txt', QUERY.replace('%recipient%', 'ann@example.com'), OK2]
FULL, DENIED, WRITING = 'No space left on device', 'Permission denied', 'ERROR: file writing error'
TMPFS = 'mv spool/msg.txt . && mount -t tmpfs -o %s tmpfs spool && mv msg.txt spool'  # msg on it
LONG = "SELECT printf('%.512c', 'x')"  # SQLite's text areas: 512 bytes
FILLER = ('f' * 62 + '\r\n') * (100 << 14)  # 100 MB


def cause(reason, call, path='spool/msg.txt'):  # the line after a failure that the OS caused
    return 'ERROR: %s [%s %s]' % (reason, call, path)


QUARANTINE = ini(opts='[Options]\r\nQuarantine=q\r\n')
NO_FILE = [RAN[0], "ERROR: can't load file <dir>/query.sql",
           cause('No such file or directory', 'open', '<dir>/query.sql')]
FAULTS = [  # log: None, none at all; msg: the message afterwards, None: deleted; errors keep it
    # A write that a signal interrupts takes part of the bytes; the rest must follow.
    dict(name='short write', log=RAN + [DONE], msg=NEW, **shim('write:1:short:0')),
    dict(name='rename: no space', log=RAN + [WRITING, cause(FULL, 'rename')], msg=OLD,
         **shim('rename:1:fail:28')),
    # Some file systems refuse to flush a folder: the rename has happened all the same.
    dict(name='folder flush refused', log=RAN + [DONE], msg=NEW,
         **shim('fsync:1:fail:5', '*/spool')),
    dict(name='no inode left', log=RAN + [WRITING, cause(FULL, 'create'), DELETED], msg=None,
         ini=ini(), **shell(TMPFS % 'nr_inodes=2')),
    dict(name='message read-only', msg=OLD, **nobody('chmod 444 spool/*'),
         log=RAN + ["ERROR: can't overwrite message file", cause(DENIED, 'open')]),
    dict(name='message folder not writable', log=RAN + [DONE], msg=NEW,
         **nobody('chown root: spool')),
    # A sticky folder refuses to replace another user's file: rewritten in place instead.
    dict(name='sticky folder, message not ours', log=RAN + [DONE], msg=NEW, **nobody(
        'chown root: spool spool/msg.txt && chmod 1777 spool && chmod 666 spool/msg.txt')),
    dict(name='delete refused', log=NO_FILE + ["ERROR: can't delete message file spool/msg.txt",
                                              cause(DENIED, 'delete'), DELETED], msg=OLD,
         query=None, ini=ini(), **nobody('chown root: spool')),
    dict(name='log not writable', log=None, msg=NEW, **nobody('chown root: .')),
    # File systems without RENAME_NOREPLACE (EINVAL): moved all the same, never over a file.
    dict(name='quarantine without RENAME_NOREPLACE', log=NO_FILE + [
        '--- Errors occured, message was moved to <dir>/q/msg.txt'], msg=None, query=None,
         ini=QUARANTINE, files={'q/.keep': ''}, left=['q/msg.txt', 'q/msg.txt.reason'],
         **shim('move:1:fail:22', '*spool/msg.txt')),
    dict(name='every quarantine name taken', log=NO_FILE + [
        "ERROR: can't quarantine message file spool/msg.txt", cause('File exists', 'move'),
        DELETED], msg=None, query=None, ini=QUARANTINE, files={'q/.keep': ''},
         **shim('move:1:fail:17', '*spool/msg.txt')),
    # Not a regular file: refused without opening it (a FIFO would block the open).
    dict(name='FIFO as message', log=['+++ Process: spool/fifo', 'ERROR: not a regular file '
         'spool/fifo'], msg=OLD, args=['spool/fifo'], left=['spool/fifo'], ini=ini(),
         **shell('mkfifo spool/fifo')),
    # The moved name and its .reason share a stem cut so that both fit a folder.
    dict(name='255-byte name quarantined', log=['+++ Process: spool/' + 'm' * 255] + NO_FILE[1:]
         + ['--- Errors occured, message was moved to <dir>/q/' + 'm' * 248],
         msg=None, path='spool/' + 'm' * 255, query=None, ini=QUARANTINE, files={'q/.keep': ''},
         left=['q/' + 'm' * 248, 'q/' + 'm' * 248 + '.reason']),
    # A driver's warning on a row (here a fraction cut) may mean a changed value: no merge.
    dict(name='fetch warning', log=RAN[:2] + [DIAG + '01S07'], msg=OLD,
         **shim('fetch:2:warn:0', '01S07')),
    # A value that fills its area exactly, the warning left out: only its length tells the cut.
    dict(name='cut unsaid', log=RAN[:1] + [LONG, 'SQL OK (1)', DONE], msg=HEAD + 'x' * 512,
         query=LONG, message=HEAD + '%%1%%', **shim('fetch:1:hide:0')),
    dict(name='100 MB message', log=RAN + [DONE], msg=HEAD + FILLER + MERGED,
         message=HEAD + FILLER + BODY),
]


class Faults(Case):
    def test_faults(self):
        self.rows(FAULTS, ini=ini(opts=KEEP), query=QUERY, message=OLD, path='spool/msg.txt')

    def test_at_once(self):
        """200 instances (KELVORIN_CONCURRENT_RUNS) at once from one folder, INI, log and SQLite
        database: every other one merges exactly its own rows, the rest find none and go to one
        quarantine with their own log lines; every log line is there once, whole and stamped."""
        n, db = int(os.environ.get('KELVORIN_CONCURRENT_RUNS', 200)), Db('kelvorin_sqlite')
        self.addCleanup(db.rows, 'DROP TABLE IF EXISTS {t}')
        db.rows('DROP TABLE IF EXISTS {t}', 'CREATE TABLE {t} (email TEXT, n INTEGER, item TEXT)',
                'INSERT INTO {t} VALUES ' + ', '.join("('r%d@example.com', %d, 'R%d-%d')" % (
                    i, k, i, k) for i in range(0, n, 2) for k in (1, 2, 3)))
        query = db.fill("SELECT item, n FROM {t} WHERE email = '%recipient%'")
        head, block = 'R\r\n<<< r%d@example.com\r\n', '%kelvorin%\r\n%%2%%: %%1%%\r\n%kelvorin%\r\n'
        files = {'kelvorin.INI': ini(opts='[Options]\r\nQuarantine=q\r\n'), 'query.sql': query,
                 'q/earlier.txt': '', **{'spool/%d.txt' % i: head % i + block for i in range(n)}}
        d, (gate, go) = self.folder(), os.pipe()  # each run waits until go is closed
        wait = ['sh', '-c', 'read _ <&%d; exec "$0" "$@"' % gate]
        runs = [self.start(files if i == 0 else {}, ['spool/%d.txt' % i], d=d, prefix=wait,
                           pass_fds=[gate]) for i in range(n)]
        os.close(go), os.close(gate)
        want = []
        for i, p in enumerate(runs):
            r = self.finish(p, 'spool/%d.txt' % i)
            want.append(['+++ Process: spool/%d.txt' % i,
                         query.replace('%recipient%', 'r%d@example.com' % i)])
            if i % 2:  # no rows: moved, with its own log lines beside it
                want[i] += ['ERROR: no data was retrived',
                            '--- Errors occured, message was moved to <dir>/q/%d.txt' % i]
                q = '%s/q/%d.txt' % (d, i)
                self.assertEqual((r.msg, read(q), entries(read(q + '.reason'), d)),
                                 (None, head % i + block, want[i]))
            else:
                want[i] += [OK2, DONE]
                self.assertEqual(r.msg, head % i + ''.join(
                    '%d: R%d-%d\r\n' % (k, i, k) for k in (1, 2, 3)))
        self.assertEqual(len(os.listdir(d + '/q')), 2 * (n // 2) + 1)
        texts = entries(read(d + '/kelvorin.LOG'), d)  # each stamped: no mixed or cut line counts
        self.assertEqual(collections.Counter(texts), collections.Counter(sum(want, [])))

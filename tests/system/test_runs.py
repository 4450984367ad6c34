"""Either program (Linux, or the .exe under Wine): run outcomes (the banner, configuration errors,
the error policy, the quarantine, the log, message paths a host may hand over), and kelvorin-check
beside it. Rows merge on SQLite, where a SELECT needs no table."""
import os, subprocess
from harness import CAUSE, CHECK, Case, DELETED, DIAG, DONE, HEAD, KEEP, OK1, OK2, RUNNER, ini, read

MSG, MERGED, P = HEAD + 'Hi %%1%%\r\n', HEAD + 'Hi ann@example.com\r\n', '+++ Process: msg.txt'
QL, KEPT = "SELECT 'ann@example.com'", ini(opts=KEEP)
CONF = 'ERROR: configuration file reading error [Database -> %s] <dir>/kelvorin.INI'
LOAD = "ERROR: can't load file "
NO_RCPT, NO_RCPT_LOG = 'Subject: x\r\nHi\r\n', "ERROR: can't extract recipient email from message"
BANNER = ('_{71}\nKelvorin v1\\.0.*\n.+\n={71}\n Plug-in for Vellumcast is designed for merging '
          'e-mails\n with database\\. See Vellumcast help system to learn more\\.\n_{71}\n')
LONG = 'm' * 251 + '.txt'  # the longest name a Linux folder holds
LINKED, OBRIEN = 'real/target.txt', HEAD.replace('ann', "o'brien")
NOT_MOVED = [P, NO_RCPT_LOG, "ERROR: can't quarantine message file msg.txt", DELETED]
NOT_FILE, READY = 'ERROR: not a regular file ', {'q/.keep': ''}  # a quarantine to move into
SEP = '\\' if RUNNER else '/'
MOVED = '--- Errors occured, message was moved to <dir>/q%smsg.txt.1' % SEP


def not_moved(call_path):  # the message deleted, after the OS's reason for call_path
    return NOT_MOVED[:3] + [CAUSE + call_path, DELETED]


def quarantine(folder, **row):
    """A failed run with Quarantine=folder; by default the message cannot go there: deleted."""
    return dict(ini=ini(opts='[Options]\r\nQuarantine=%s\r\n' % folder), message=NO_RCPT, **row)


ROWS = [  # name, expected log (None: none at all), message (None: deleted), what differs
    ('banner, no argument', None, MSG, dict(args=[], out=BANNER)),
    ('banner, two arguments', None, MSG, dict(args=['msg.txt', 'x'], out=BANNER)),
    # A failure before DeleteOnErrors is read finds it on, whatever the INI says.
    ('no INI', [P, CONF % 'Source', DELETED], None, dict(ini=None)),
    ('no Request', [P, CONF % 'Request', DELETED], None,
     dict(ini='[Database]\r\nSource=x\r\n' + KEEP)),
    ('no query file, kept', [P, LOAD + '<dir>/query.sql', CAUSE + 'open <dir>/query.sql'], MSG,
     dict(ini=KEPT, query=None)),
    ('empty message', [P, LOAD + 'msg.txt', DELETED], None, dict(message='')),
    ('no recipient line', [P, NO_RCPT_LOG, DELETED], None, dict(message=NO_RCPT)),
    ('query without token runs as written', [P, "SELECT 'a', 'b'", OK2, DONE], HEAD + 'b',
     dict(query="SELECT 'a', 'b'", message=HEAD + '%%2%%')),
    ('first token only, quote doubled, lines joined', [P, "SELECT 'o''brien@example.com',\r\n"
     "'%recipient%'", OK2, DONE], OBRIEN + "[o'brien@example.com|%recipient%]", dict(
         message=OBRIEN + '[%%1%%|%%2%%]', query="SELECT '%recipient%',\r\n'%recipient%'")),
    ('unknown data source', [P, QL, DIAG, DELETED], None, dict(ini=ini(source='nowhere'))),
    ('log appended', ['earlier run', P, QL, OK1, DONE], MERGED,
     dict(files={'kelvorin.LOG': '01:02:03 04-05-2006 earlier run\r\n'})),
    ('message name of 255 bytes', ['+++ Process: ' + LONG, QL, OK1, DONE], MERGED, dict(path=LONG)),
    # The file the link leads to is merged: the link stays a link to it.
    ('message path is a link', ['+++ Process: link.txt', QL, OK1, DONE], MERGED, dict(
        path=LINKED, args=['link.txt'], left=['link.txt'],
        arrange=lambda d, t: os.symlink(LINKED, os.path.join(d, 'link.txt')))),
    # An earlier message of the same name stays: the new one takes the next free name.
    ('quarantined', [P, NO_RCPT_LOG, MOVED], None, quarantine(
        'q', files={'q/msg.txt': 'earlier'}, left=['q/msg.txt.1', 'q/msg.txt.1.reason'],
        then=lambda t, r: t.assertEqual([read(r.d + '/q/msg.txt' + end) for end in (
            '.1.reason', '.1', '')], [read(r.d + '/kelvorin.LOG'), NO_RCPT, 'earlier']))),
    ('no quarantine folder', not_moved('create <dir>/nowhere%smsg.txt.reason' % SEP), None,
     quarantine('nowhere')),
    ('quarantine on another volume', not_moved('move msg.txt'), None,
     quarantine('Z:\\dev\\shm' if RUNNER else '/dev/shm')),
    # The host sends from the message's folder: a message moved there would go out unmerged.
    ("quarantine is the message's folder", NOT_MOVED, None, quarantine('.')),
    ('quarantine longer than kept', NOT_MOVED, None, quarantine('./' * 179 + 'q/', files=READY)),
    # A folder is no message: neither loaded nor moved with what it holds.
    ('message path is a folder', ['+++ Process: spool', NOT_FILE + 'spool'], NO_RCPT,
     quarantine('q', path='spool/msg.txt', args=['spool'], files=READY)),
]


class Runs(Case):
    def test_rows(self):
        self.rows(ROWS, ini=ini(), query="SELECT '%recipient%'", message=MSG)


# kelvorin-check: a clean template merges as the plug-in merges it, problems come with their lines,
# a folder is tallied, a log summed up, nothing written. Each problem has its unit rows.
CHECKED = "SELECT 'A', 'B' UNION ALL SELECT '%recipient%', 'D'"  # two rows for anyone
GOOD = HEAD + '%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n'
BAD = HEAD + 'Total %%1%%\r\n%kelvorin%\r\n%%3%%\r\n'
TYPO = 'DeleteOnError is not a key the plug-in reads; did you mean DeleteOnErrors?'
TALLY = ['3 messages in spool', 'would merge        2', 'would fail         1', '1  ' + NO_RCPT_LOG,
         'c.txt: ' + NO_RCPT_LOG, 'b.txt:5: placeholder %%3%%',  # the dot file passed over
         "Quarantine is the messages' own folder"]  # c.txt is deleted then: SUMMARY
SUMMARY = ['runs               3', 'completed          2', 'failed             1',
           '1  ' + NO_RCPT_LOG, 'deleted            1', 'runs a minute: lowest ']
TEMP = '~kelvorin-1-1.tmp' if RUNNER else '.kelvorin-AbC123'  # a killed run's, of 5 bytes


def nobody(sh):  # Linux only: rights that root passes by
    return dict(prefix=['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups'],
                arrange=lambda d, t: subprocess.run('chown -R nobody:nogroup . && ' + sh,
                                                    shell=True, cwd=d, check=True))


ARGS = [  # arguments, exit status, a fragment of the output, what differs (None: no such file)
    (['--help'], 0, 'kelvorin-check FOLDER [--ini PATH]', {}),
    (['msg.txt', '--recipient', 'bob@example.com'], 0, 'Hi bob@example.com', {}),
    (['msg.txt', '--ini', 'plain.INI'], 1, 'Hi x\r\n', {}),  # and: no %recipient% in the query
    (['absent.txt'], 2, 'no such file absent.txt', {}),
    (['spool'], 2, 'cannot read the settings file', {'files': {'kelvorin.INI': None}}),
    (['spool'], 1, TEMP + '  5 bytes, ', {}),
    (['spool', '--recipient', 'bob@example.com'], 2, 'not a FOLDER', {}),
    (['spool', '--recipient', 'a\\b'], 2, 'bad arguments', {}),
    (['msg.txt', '--recipient', ''], 2, 'bad arguments', {}),
    (['--log', 'kelvorin.LOG', '--since', ''], 2, 'bad arguments', {}),
    (['--log'], 2, 'bad arguments', {}),
    (['--log', 'absent.LOG'], 2, 'cannot read the log', {}),
] + ([] if RUNNER else [  # rights as the Linux program meets them
    (['msg.txt'], 1, 'would fail with "ERROR: can\'t overwrite message file"',
     nobody('chmod 444 msg.txt')),
    (['spool'], 2, 'cannot read the folder', nobody('chmod 0 spool')),
    (['msg.txt'], 1, 'Password is set and other users may read', dict(
        arrange=lambda d, t: os.chmod(d + '/kelvorin.INI', 0o640),
        files={'kelvorin.INI': ini(db='Password=pw\r\n')})),
])


class Check(Case):
    def test_message(self):
        for message, found in [(GOOD, []), (BAD, [
                'msg.txt:3: placeholder %%1%% is outside every row block',
                'msg.txt:4: row-block marker %kelvorin% has no partner',
                'msg.txt:5: placeholder %%3%% names no column: the query gives 2'])]:
            with self.subTest(message):
                files = {'kelvorin.INI': ini(opts='[Options]\r\nDeleteOnError=No\r\n'),
                         'query.sql': CHECKED, 'msg.txt': message}
                r = self.run_prog(files, prog=CHECK, status=1)  # 1 for the INI's misspelt key alone
                missing = [s for s in found + ['SQL OK (2)', 'Complete!', TYPO] if s not in r.err]
                # the log's 4 lines, the INI's key, the problems, the marker left in the merge
                self.assertEqual((missing, len(r.err.splitlines()), r.msg, r.log),
                                 ([], 5 + len(found) + bool(found), message, None), r.err)

    def test_folder_and_log(self):
        files = {'kelvorin.INI': ini(opts='[Options]\r\nQuarantine=spool\r\n'),
                 'query.sql': CHECKED, 'spool/a.txt': GOOD, 'spool/b.txt': BAD,
                 'spool/c.txt': 'no recipient\r\n', 'spool/.kelvorin-x': GOOD}
        r = self.run_prog(files, args=['spool'], prog=CHECK, status=1)
        self.assertEqual([s for s in TALLY if s not in r.out], [], r.out)
        for name in ('a.txt', 'b.txt', 'c.txt'):
            self.run_prog({}, args=['spool/' + name], d=r.d, path='spool/' + name)
        out = self.run_prog({}, args=['--log', 'kelvorin.LOG'], d=r.d, prog=CHECK, status=1).out
        self.assertEqual([s for s in SUMMARY if s not in out], [], out)

    def test_arguments(self):
        base = {'kelvorin.INI': ini(), 'query.sql': "SELECT '%recipient%'", 'msg.txt': MSG,
                'plain.INI': ini().replace('query', 'plain'), 'plain.sql': "SELECT 'x'",
                'spool/' + TEMP: 'xxxxx'}
        for args, status, said, row in ARGS:
            with self.subTest(' '.join(args)):
                row = dict(row)
                files = {k: v for k, v in {**base, **row.pop('files', {})}.items() if v is not None}
                r = self.run_prog(files, args=args, prog=CHECK, status=status, **row)
                self.assertIn(said, r.out + r.err)

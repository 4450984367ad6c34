"""Either program (Linux, or the .exe under Wine) and kelvorin-check beside it: run outcomes, the
error policy, the quarantine, message paths a host may hand over; on SQLite, no table needed."""
import os
from harness import (CAUSE, CHECK, Case, DELETED, DIAG, DONE, HEAD, KEEP, OK1, OK2, PROCESS, RUNNER,
                     ini, nobody)

MSG, MERGED = HEAD + 'Hi %%1%%\r\n', HEAD + 'Hi ann@example.com\r\n'
QUERIED = "SELECT 'ann@example.com'"
CONF = 'ERROR: configuration file reading error [Database -> %s] <dir>/kelvorin.INI'
NO_RCPT = 'Subject: x\r\nHi\r\n'
NO_RCPT_LOG = "ERROR: can't extract recipient email from message"
BANNER = ('_{71}\nKelvorin v1\\.0.*\n.+\n={71}\n Plug-in for Vellumcast is designed for merging '
          'e-mails\n with database\\. See Vellumcast help system to learn more\\.\n_{71}\n')
SEP = '\\' if RUNNER else '/'


def quarantine(folder, cause='', **row):
    """A failed run with Quarantine=folder; by default the message cannot go there: deleted, after
    the OS's reason for cause (a call and its path) if given."""
    return {'ini': ini(opts='[Options]\r\nQuarantine=%s\r\n' % folder), 'message': NO_RCPT,
            'log': [PROCESS, NO_RCPT_LOG, "ERROR: can't quarantine message file msg.txt"] + [
                CAUSE + cause] * bool(cause) + [DELETED], 'msg': None, **row}


ROWS = [  # log: None, none at all; msg: the message afterwards, None: deleted
    dict(name='banner, no argument', log=None, msg=MSG, args=[], out=BANNER),
    dict(name='banner, two arguments', log=None, msg=MSG, args=['msg.txt', 'x'], out=BANNER),
    # A failure before DeleteOnErrors is read finds it on, whatever the INI says.
    dict(name='no INI', log=[PROCESS, CONF % 'Source', DELETED], msg=None, ini=None),
    dict(name='no Request', log=[PROCESS, CONF % 'Request', DELETED], msg=None,
         ini='[Database]\r\nSource=x\r\n' + KEEP),
    dict(name='no query file, kept', msg=MSG, ini=ini(opts=KEEP), query=None, log=[
        PROCESS, "ERROR: can't load file <dir>/query.sql", CAUSE + 'open <dir>/query.sql']),
    dict(name='empty message', log=[PROCESS, "ERROR: can't load file msg.txt", DELETED], msg=None,
         message=''),
    dict(name='query without token runs as written', log=[PROCESS, "SELECT 'a', 'b'", OK2, DONE],
         msg=HEAD + 'b', query="SELECT 'a', 'b'", message=HEAD + '%%2%%'),
    dict(name='unknown data source', log=[PROCESS, QUERIED, DIAG, DELETED], msg=None,
         ini=ini(source='nowhere')),
    dict(name='message path is a link', log=['+++ Process: link.txt', QUERIED, OK1, DONE],
         msg=MERGED, path='real/target.txt', args=['link.txt'], left=['link.txt'],
         arrange=lambda d, t: os.symlink('real/target.txt', os.path.join(d, 'link.txt'))),
    # An earlier message of the same name stays: the new one takes the next free name.
    dict(name='quarantined', **quarantine('q', log=[PROCESS, NO_RCPT_LOG, '--- Errors occured, '
         'message was moved to <dir>/q%smsg.txt.1' % SEP], files={'q/msg.txt': 'earlier'},
         left=['q/msg.txt.1', 'q/msg.txt.1.reason'])),
    dict(name='no quarantine folder',
         **quarantine('nowhere', 'create <dir>/nowhere%smsg.txt.reason' % SEP)),
    dict(name='quarantine on another volume',
         **quarantine('Z:\\dev\\shm' if RUNNER else '/dev/shm', 'move msg.txt')),
    # The host sends from the message's folder: a message moved there would go out unmerged.
    dict(name="quarantine is the message's folder", **quarantine('.')),
    dict(name='quarantine longer than kept',
         **quarantine('./' * 179 + 'q/', files={'q/.keep': ''})),
]

# kelvorin-check: a clean template merges as the plug-in merges it, problems come with their lines,
# a folder is tallied, nothing written. Each problem, and the log's summary, has its unit rows.
CHECKED = "SELECT 'A', 'B' UNION ALL SELECT '%recipient%', 'D'"  # two rows for anyone
GOOD = HEAD + '%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n'
BAD = HEAD + 'Total %%1%%\r\n%kelvorin%\r\n%%3%%\r\n'
TALLY = ['3 messages in spool', 'would merge        2', 'would fail         1', '1  ' + NO_RCPT_LOG,
         'c.txt: ' + NO_RCPT_LOG, 'b.txt:5: placeholder %%3%%',  # the dot file passed over
         "Quarantine is the messages' own folder"]
TEMP = '~kelvorin-1-1.tmp' if RUNNER else '.kelvorin-AbC123'  # a killed run's, of 5 bytes

ARGS = [  # the arguments, the exit status, a fragment of what it says, what else differs
    dict(args=['--help'], status=0, says='kelvorin-check FOLDER [--ini PATH]'),
    dict(args=['msg.txt', '--recipient', 'bob@example.com'], status=0, says='Hi bob@example.com'),
    dict(args=['msg.txt', '--ini', 'plain.INI'], status=1, says='Hi x\r\n'),  # no %recipient%
    dict(args=['absent.txt'], status=2, says='no such file absent.txt'),
    dict(args=['spool'], status=2, says='cannot read the settings file', ini=None),
    dict(args=['spool'], status=1, says=TEMP + '  5 bytes, '),
    dict(args=['spool', '--recipient', 'bob@example.com'], status=2, says='not a FOLDER'),
    dict(args=['spool', '--recipient', 'a\\b'], status=2, says='bad arguments'),
    dict(args=['--log', 'kelvorin.LOG', '--since', ''], status=2, says='bad arguments'),
    dict(args=['--log', 'absent.LOG'], status=2, says='cannot read the log'),
] + ([] if RUNNER else [  # rights as the Linux program meets them
    dict(args=['msg.txt'], status=1, says='would fail with "ERROR: can\'t overwrite message file"',
         **nobody('chmod 444 msg.txt')),
    dict(args=['spool'], status=2, says='cannot read the folder', **nobody('chmod 0 spool')),
    dict(args=['msg.txt'], status=1, says='Password is set and other users may read',
         ini=ini(db='Password=pw\r\n'), arrange=lambda d, t: os.chmod(d + '/kelvorin.INI', 0o640)),
])


class Runs(Case):
    def test_rows(self):
        self.rows(ROWS, ini=ini(), query="SELECT '%recipient%'", message=MSG)

    def test_check_folder(self):
        files = {'kelvorin.INI': ini(opts='[Options]\r\nQuarantine=spool\r\n'),
                 'query.sql': CHECKED, 'spool/a.txt': GOOD, 'spool/b.txt': BAD,
                 'spool/c.txt': 'no recipient\r\n', 'spool/.kelvorin-x': GOOD}
        r = self.run_prog(files, args=['spool'], prog=CHECK, status=1)
        self.assertEqual([s for s in TALLY if s not in r.out], [], r.out)

    def test_check_arguments(self):  # it writes nothing: no log, the message as it was
        self.rows(ARGS, prog=CHECK, log=None, msg=MSG, out='(?s).*', ini=ini(),
                  query="SELECT '%recipient%'", message=MSG, files={
                      'plain.INI': ini().replace('query', 'plain'), 'plain.sql': "SELECT 'x'",
                      'spool/' + TEMP: 'xxxxx'})

"""Run outcomes of either program (Linux, or the .exe under Wine): the banner,
configuration errors, the error policy, the quarantine, the log, and message
paths a host may hand over. Rows merge on SQLite, where a SELECT needs no table."""
import os, re
from harness import Case, DELETED, DIAG, DONE, HEAD, KEEP, OK1, OK2, RUNNER, ini, read

MSG, Q, QL = HEAD + 'Hi %%1%%\r\n', "SELECT '%recipient%'", "SELECT 'ann@example.com'"
MERGED, P = HEAD + 'Hi ann@example.com\r\n', '+++ Process: msg.txt'
CONF = 'ERROR: configuration file reading error [Database -> %s] <dir>/kelvorin.INI'
BANNER = ('_{71}\nKelvorin v1\\.0.*\n.+\n={71}\n Plug-in for Vellumcast is designed for merging '
          'e-mails\n with database\\. See Vellumcast help system to learn more\\.\n_{71}\n')
LONG = 'm' * 251 + '.txt'  # the longest name a Linux folder holds
LINKED = 'real/target.txt'
# Values typed into a name field, merged before the recipient line.
EVIL = ("SELECT 'Hi' || char(13, 10) || '<<< evil@example.net', 'x' || char(10) || "
        "'Bcc: spy@x.org', 'a' || char(13) || 'b'")
EVIL_MSG = 'Subject: %%1%%\r\nX: %%2%% %%3%%\r\n<<< ann@example.com\r\n%%1%%'
CHANGED = 'ERROR: recipient line changed by the merge'
NO_RCPT, NO_RCPT_LOG = 'Subject: x\r\nHi\r\n', "ERROR: can't extract recipient email from message"
SEP = '\\' if RUNNER else '/'  # in paths the program writes


def quarantine(folder, **row):
    """A failed run with Quarantine=folder; by default the message cannot go there: deleted."""
    return dict(dict(ini=ini(opts='[Options]\r\nQuarantine=%s\r\n' % folder), message=NO_RCPT,
                     msg=None, log=[P, NO_RCPT_LOG, "ERROR: can't quarantine message file "
                                    'msg.txt', DELETED]), **row)


ROWS = [  # expected log (None: none at all) and message (None: deleted); what differs
    dict(name='banner, no argument', log=None, msg=MSG, args=[], out=BANNER),
    dict(name='banner, two arguments', log=None, msg=MSG, args=['msg.txt', 'x'], out=BANNER),
    # Settings read before the failing key keep their defaults: DeleteOnErrors is on.
    dict(name='no INI', ini=None, log=[P, CONF % 'Source', DELETED], msg=None),
    dict(name='no Request', ini='[Database]\r\nSource=x\r\n', log=[P, CONF % 'Request', DELETED],
         msg=None),
    dict(name='no query file, kept', ini=ini(opts=KEEP), query=None,
         log=[P, "ERROR: can't load file <dir>/query.sql"], msg=MSG),
    dict(name='empty message', message='', log=[P, "ERROR: can't load file msg.txt", DELETED],
         msg=None),
    dict(name='no recipient line', message=NO_RCPT, log=[P, NO_RCPT_LOG, DELETED], msg=None),
    dict(name='query without token runs as written', query="SELECT 'a', 'b'",
         message=HEAD + '%%2%%', log=[P, "SELECT 'a', 'b'", OK2, DONE], msg=HEAD + 'b'),
    dict(name='first token only, quote doubled, lines joined',
         message=HEAD.replace('ann', "o'brien") + '[%%1%%|%%2%%]',
         query="SELECT '%recipient%',\r\n'%recipient%'",
         log=[P, "SELECT 'o''brien@example.com',\r\n'%recipient%'", OK2, DONE],
         msg=HEAD.replace('ann', "o'brien") + "[o'brien@example.com|%recipient%]"),
    dict(name='unknown data source', ini=ini(source='nowhere'), log=[P, QL, DIAG, DELETED],
         msg=None),
    dict(name='log appended', files={'kelvorin.LOG': '01:02:03 04-05-2006 earlier run\r\n'},
         log=['earlier run', P, QL, OK1, DONE], msg=MERGED),
    dict(name='message name of 255 bytes', path=LONG, log=['+++ Process: ' + LONG, QL, OK1, DONE],
         msg=MERGED),
    dict(name='message path is a link', path=LINKED, args=['link.txt'], left=['link.txt'],
         arrange=lambda d, t: os.symlink(LINKED, os.path.join(d, 'link.txt')),
         log=['+++ Process: link.txt', QL, OK1, DONE], msg=MERGED,
         then=lambda t, r: t.assertTrue(os.path.islink(os.path.join(r.d, 'link.txt')))),
    # Line breaks in values before the recipient line become spaces; after it they stay.
    dict(name='values cannot add header lines', query=EVIL, message=EVIL_MSG,
         log=[P, EVIL, 'SQL OK (3)', DONE],
         msg='Subject: Hi  <<< evil@example.net\r\nX: x Bcc: spy@x.org a b\r\n'
             '<<< ann@example.com\r\nHi\r\n<<< evil@example.net'),
    dict(name='guard off: the recipient line changes', query=EVIL, message=EVIL_MSG,
         ini=ini(opts=KEEP + 'HeaderGuard=No\r\n'), log=[P, EVIL, 'SQL OK (3)', CHANGED],
         msg=EVIL_MSG),
    dict(name='placeholder in the recipient line', query="SELECT 'z@z'",
         message='Subject: x\r\n<<< %%1%%\r\n', log=[P, "SELECT 'z@z'", OK1, CHANGED, DELETED],
         msg=None),
    # An earlier message of the same name stays: the new one takes the next free name.
    dict(name='quarantined', **quarantine(
        'q', files={'q/msg.txt': 'earlier'}, left=['q/msg.txt.1', 'q/msg.txt.1.reason'],
        log=[P, NO_RCPT_LOG, '--- Errors occured, message was moved to <dir>/q%smsg.txt.1' % SEP],
        then=lambda t, r: t.assertEqual([read(r.d + '/q/msg.txt' + end) for end in (
            '.1.reason', '.1', '')], [read(r.d + '/kelvorin.LOG'), NO_RCPT, 'earlier']))),
    dict(name='no quarantine folder', **quarantine('nowhere')),
    dict(name='quarantine on another volume',
         **quarantine('Z:\\dev\\shm' if RUNNER else '/dev/shm')),
]


class Runs(Case):
    def test_rows(self):
        for row in ROWS:
            with self.subTest(row['name']):
                self.row(**row)

    def row(self, name, log, msg, ini=ini(), query=Q, message=MSG, path='msg.txt', args=None,
            files={}, arrange=None, left=(), out='', then=None):
        files = {'kelvorin.INI': ini, 'query.sql': query, path: message, **files}
        r = self.run_prog({k: v for k, v in files.items() if v is not None}, path=path,
                          args=[path] if args is None else args, arrange=arrange)
        self.check(r, msg, log, left)
        self.assertTrue(re.fullmatch(out, r.out.replace('\r', '')), r.out)
        if then:
            then(self, r)

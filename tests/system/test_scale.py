"""On engines.sh --scale (primary, hot standby, PgBouncer before them): a mailing with a fault in
its middle third, and the timeouts of a login and a query that never end."""
import collections, os, re, socket, subprocess, time
from harness import Case, Db, DIAG, DELETED, PROCESS, ini, read

ST, PG, Q = os.environ['ODBCSYSINI'] + '/scale', '/usr/lib/postgresql/15/bin/', '[Options]\r\n'
HEAD, ROW = 'S\r\n<<< c{0}@example.com\r\n\r\nDear ', '#{0}%d 2026-11-0%d {0}.5\r\n'
MSG = HEAD + '%%1%%,\r\n%kelvorin%\r\n#%%2%% %%3%% %%4%%\r\n%kelvorin%\r\n'
NEW = HEAD + 'C{0},\r\n' + ROW % (1, 2) + ROW % (2, 3)
QUERY = ("SELECT 'C' || i, i::TEXT || k, DATE '2026-11-01' + k, i || '.5' FROM generate_series("
         "0, 23) i, generate_series(1, 2) k WHERE 'c' || i || '@example.com' = '%recipient%'")
ADMIN = 'PGPASSWORD=admin-pw %spsql -Xqh %s -p5443 -Upostgres pgbouncer -c ' % (PG, ST)
CTL = 'cd / && runuser -upostgres -- %spg_ctl -wD %s/standby -l %s/standby.log ' % (PG, ST, ST)


def hold(held):  # every connection slot the role may have on the primary, till one is refused
    while not held or not isinstance(held[-1], Exception):
        try:
            held.append(Db('kelvorin_scale_primary').c)
        except Exception as e:
            held.append(e)


def sh(command):
    return lambda held: subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)


FAULTS = [  # begin before the middle third, end 2 s into it; causes: the SQL states of the
    # quarantined messages' reasons, which kelvorin-check --log counts
    dict(name='pooler paused and resumed', source='pooler', begin=sh(ADMIN + 'PAUSE'),
         end=sh(ADMIN + 'RESUME'), causes=set()),
    dict(name='standby restarted', source='standby', begin=sh(CTL + 'stop'), end=sh(CTL + 'start'),
         causes={'08001'}),
    dict(name='primary slots used up', source='primary', begin=hold,
         end=lambda h: [c.close() for c in h[:-1]], causes={'08001'}),
]


class Scale(Case):
    def test_mailing_faults(self):
        for fault in FAULTS:
            with self.subTest(fault['name']):
                d, held = self.folder(), []
                files = {'kelvorin.INI': ini(opts=Q + 'Quarantine=q\r\n', source='kelvorin_scale_'
                                             + fault['source']), 'query.sql': QUERY, 'q/.k': ''}
                for third in (0, 8, 16):  # 8 at once, as a host runs them; the fault in the middle
                    if third == 8:
                        fault['begin'](held)
                    runs = [self.start({**(files if i == 0 else {}), 'm%d' % i: MSG.format(i)},
                                       ['m%d' % i], d=d) for i in range(third, third + 8)]
                    if third == 8:  # the fault lasts 2 s, while they run
                        time.sleep(2)
                        fault['end'](held)
                    for i, p in enumerate(runs, third):  # none unmerged, none lost
                        r = self.finish(p, 'm%d' % i)
                        self.assertEqual(r.msg or read('%s/q/m%d' % (d, i)),
                                         (NEW if r.msg else MSG).format(i))
                states = collections.Counter(re.search(r'state - (\w+)', read(d + '/q/' + f))[1]
                                             for f in os.listdir(d + '/q') if f.endswith('.reason'))
                out = subprocess.run([d + '/kelvorin-check', '--log', d + '/kelvorin.LOG'],
                                     capture_output=True, text=True).stdout
                counts = {s: int(n) for n, s in re.findall(r'(\d+)  ERROR: SQL state - (\w+)', out)}
                self.assertEqual((set(states), counts), (fault['causes'], dict(states)))

    def test_timeouts(self):  # each hangs without its timeout: the harness's limit fails it
        silent = socket.socket(socket.AF_UNIX)  # a server whose logins wait in its backlog
        silent.bind(ST + '/silent/.s.PGSQL.5999'), silent.listen(8), self.addCleanup(silent.close)
        self.addCleanup(os.remove, ST + '/silent/.s.PGSQL.5999')
        self.rows([dict(name='silent server', log=[PROCESS, 'SELECT 1', DIAG + '08001', DELETED],
                        msg=None, ini=ini(source='kelvorin_scale_silent')),
                   # Fresh server connections: none keeps a statement_timeout another client SET.
                   dict(name='query stalls at the pooler', msg=None, query='SELECT pg_sleep(600)',
                        log=[PROCESS, 'SELECT pg_sleep(600)', DIAG + '57014', DELETED],
                        arrange=lambda *_: sh(ADMIN + 'RECONNECT')(()),
                        ini=ini(opts=Q + 'QueryTimeout=1\r\n', source='kelvorin_scale_pooler'))],
                  query='SELECT 1', message='S\r\n<<< a@example.com\r\n')

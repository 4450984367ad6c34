"""Rows against a real engine (KELVORIN_DSN): values of each type as the program merges them, run
outcomes that the engine and its driver decide, and hostile recipients. SQL in dialect terms."""
import model, pyodbc
from harness import Case, Db, DELETED, DIAG, DONE, HEAD, OK1, PROCESS, given, ini, raw, st, u8

BLOCK = '%kelvorin%\r\n[%%1%%]\r\n%kelvorin%\r\n'
KOELN = ' '.join(['Grüße aus Köln.'] * 3449) + '!' * 5  # 65,535 bytes, some characters of two
UMLAUTS, EMOJI = 'ÄÖÜäöüßéèê', '😀😁😂🤣😃😄😅😆😉😊'  # ten characters of 2 and of 4 bytes

VALUES = [  # a column of type holds each SQL literal, after a NULL; merged: what each becomes
    dict(name='integer', type='INTEGER',
         merged={'-5': '-5', '2147483647': '2147483647', '-2147483648': '-2147483648'}),
    dict(name='bigint', type='BIGINT', merged={'9223372036854775807': '9223372036854775807',
                                               '-9223372036854775807': '-9223372036854775807'}),
    # SQLite's INTEGER holds 64 bits whatever its driver says.
    dict(name='beyond 32 bits', type='INTEGER', only=('SQLite',),
         merged={'3000000000': '3000000000', '-4294967297': '-4294967297'}),
    dict(name='double', type='DOUBLE PRECISION',
         merged={'2.5': '2.50', '1.0 / 3': '0.33', '-12.5': '-12.50'}),
    dict(name='real', type='REAL', merged={'2.5': '2.50', '-1000000': '-1000000.00'}),
    dict(name='numeric', type='NUMERIC(10,2)',
         merged={'-12345678.90': '-12345678.90', '99999999.99': '99999999.99', '0.5': '0.50'}),
    dict(name='UTF-8 of 2 and of 4 bytes', type='VARCHAR(10)',
         merged={u8(UMLAUTS): UMLAUTS, u8(EMOJI): EMOJI}),
    dict(name='text longer than reported', type='TEXT', merged={u8(KOELN): KOELN}),
    dict(name='date and time', type='TIMESTAMP(1)',
         merged={"'2000-02-29 00:00:00.5'": '2000-02-29 00:00:00.5'}),
    dict(name='blanks trimmed', type='CHAR(8)', merged={"'ab'": 'ab', "' \tcd'": 'cd'}),
    dict(name='arithmetic', type='INTEGER', select='v * 2', merged={'5': '10', '-7': '-14'}),
]


def value(name, type, merged, select='v', only=None):  # each value in a row of its own
    merged = {'NULL': '<null>', **merged}
    rows = 'INSERT INTO {t} VALUES ' + ', '.join('(%d, %s)' % row for row in enumerate(merged))
    return dict(name=name, only=only, query='SELECT %s FROM {t} ORDER BY k' % select,
                setup=['CREATE TABLE {t} (k INTEGER, v %s)' % type, rows],
                log=[OK1, DONE], merged=''.join('[%s]\r\n' % m for m in merged.values()))


NO_DATA = 'ERROR: no data was retrived'

SOURCES = [  # log: after the query's line; merged: None, deleted; db: more of [Database]
    dict(name='no result set', setup=['CREATE TABLE {t} (email TEXT, item TEXT)'],
         query="UPDATE {t} SET item = 'x' WHERE email = '%recipient%'",
         log=['ERROR: SQL statement error, no coluns was retrived.', DELETED]),
    dict(name='syntax error', query='SELEC 1', log=[DIAG, DELETED]),
    # No Username: the data source's own user, not the process's login name.
    *(dict(name=name, query='SELECT {user}', body='[%%1%%]', log=[OK1, DONE], merged='[kelvorin]',
           db=db, only=('PostgreSQL', 'MariaDB')) for name, db in (
        ('named user', 'Username=kelvorin\r\nPassword=kelvorin-pw\r\n'), ('data source user', ''))),
    dict(name='6000 rows, 5000 merged', query='WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT '
         'n + 1 FROM c WHERE n < 6000) SELECT n FROM c ORDER BY n', log=[OK1, DONE],
         merged=''.join('[%d]\r\n' % n for n in range(1, 5001))),
    dict(name='70 columns, 64 kept', query='SELECT ' + ', '.join(map(str, range(1, 71))),
         body='%%1%% %%64%% [%%65%%] [%%70%%]', log=['SQL OK (70)', DONE], merged='1 64 [] []'),
    dict(name='value over 65,535 bytes', query='SELECT {long}', log=[DIAG + '01004', DELETED]),
    # A value cut at a NUL would merge in part (SQLite's driver cuts a text so, unseen).
    dict(name='NUL inside a value', query="SELECT 1, CONCAT('Orders 1041', CHAR(0), 'and 1057')",
         log=['ERROR: a value holds a NUL byte (column 2)', DELETED], only=('MariaDB',)),
    dict(name='forged log lines in a diagnostic', only=('PostgreSQL',),
         log=[DIAG + '22P02', DELETED],
         query="SELECT CAST(E'7x\\r\\n06:00:00 07-12-2026 Complete!' AS int)"),
    # The server ends the connection at row 3000 of 40,000: inside the query, or between
    # two fetches from a cursor of 100 rows (kelvorin_pg_cursor). No row that came is merged.
    dict(name='connection lost', query="SELECT g, CASE WHEN g = 3000 THEN pg_terminate_backend("
         "pg_backend_pid())::text END FROM generate_series(1, 40000) g", log=[DIAG, DELETED],
         only=('PostgreSQL',)),
]

# Hostile recipients built of pieces that break out of an SQL literal on some engine or driver
# (\udcc0: a lead byte that a trusting decoder would join to the quote after it).
PIECES = ["'", "''", '\\', '"', '`', ' ', '\t', '-- ', '#', '/*', ';', '%', '_', '?', '\udcc0',
          '\x01\x1b[2J\x7f', '\u2019\u02bc\uff07', 'bob@example.com ', ' OR 1=1', "'" * 400,
          ' UNION ALL SELECT item FROM {t}', '; DROP TABLE {t}', '%kelvorin%', '%%1%%']
QUERY = "SELECT item FROM {t} WHERE email = '%recipient%' ORDER BY item"
MARKED = '%kelvorin%\r\n[%%1%%]\r\n%kelvorin%\r\nfirst: %%1%%\r\n'
OTHERS = [('bob@example.com', 'LEAK-BOB-1'), ('bob@example.com', 'LEAK-BOB-2'),
          ("o''carol@example.com", 'LEAK-CAROL-1'), ('', 'LEAK-EMPTY-1'), ('-', 'CANARY')]


class Values(Case):
    def setUp(self):
        self.db = Db()
        self.addCleanup(self.db.rows, 'DROP TABLE IF EXISTS {t}')

    def test_rows(self):
        rows = [value(**v) for v in VALUES] + SOURCES
        for row in [r for r in rows if self.db.dbms in (r.get('only') or [self.db.dbms])]:
            with self.subTest(row['name']):
                self.db.rows('DROP TABLE IF EXISTS {t}', *row.get('setup', []))
                q = self.db.fill(row['query'])
                r = self.run_prog({'kelvorin.INI': ini(row.get('db', '')), 'query.sql': q,
                                   'msg.txt': HEAD + row.get('body', BLOCK)})
                log = [PROCESS, q.replace('%recipient%', 'ann@example.com', 1)]
                merged = row.get('merged')
                self.check(r, None if merged is None else HEAD + merged, log + row['log'])

    @given(st.lists(st.sampled_from(PIECES), min_size=1, max_size=6).map(''.join))
    def test_hostile_recipient(self, address):
        """Beside others' rows and a canary, a run merges its own row as the model does and nothing
        else, or fails cleanly; the table stays as it was."""
        address = self.db.fill(address)
        self.table()
        try:  # the own row, unless the engine refuses its bytes
            own = self.db.rows("INSERT INTO {t} VALUES (%s, 'OWN-ROW')" % u8(address)) or True
        except pyodbc.Error:
            own = False
        message, query = 'Subject: Hi\r\n<<< %s\r\n' % address + MARKED, self.db.fill(QUERY)
        r = self.run_prog({'kelvorin.INI': ini(), 'query.sql': query, 'msg.txt': message})
        self.assertEqual(sorted(self.db.rows('SELECT item FROM {t}')),  # the table as it was
                         sorted([(i,) for _, i in OTHERS] + [('OWN-ROW',)] * own))
        logged = query.replace('%recipient%', address.replace("'", "''"), 1)
        log = [PROCESS] + [logged] * (len(raw(logged)) <= 2000)
        merged, error = model.merge(raw(message), [[b'OWN-ROW']], model.options())
        if '\\' in address or len(raw(address)) >= 1000:  # no address a driver could misread
            self.check(r, None, log[:1] + ["ERROR: can't extract recipient email from message",
                                           DELETED])
        elif not own:  # no row to find, or the query refused
            self.check(r, None, log + [NO_DATA if NO_DATA in r.log else DIAG, DELETED])
        else:
            self.check(r, None if error else merged.decode('utf-8', 'surrogateescape'),
                       log + [OK1] + ([error, DELETED] if error else [DONE]))

    def test_careless_paste_leaks(self):  # the control: without doubled quotes, attacks are real
        self.table()
        self.assertTrue(self.db.rows(self.db.fill(QUERY).replace('%recipient%', "x' OR ''='")))

    def table(self):
        self.db.rows('DROP TABLE IF EXISTS {t}', 'CREATE TABLE {t} (email {email}, item TEXT)',
                     'INSERT INTO {t} VALUES ' + ', '.join("('%s', '%s')" % o for o in OTHERS))

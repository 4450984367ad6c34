"""Hostile recipients on KELVORIN_DSN, a row per class of attack: addresses
built to break out of the SQL literal that the query puts the recipient in.
With the attacker's own row, other customers' rows and a canary table in the
database, a run merges the own row and nothing else, or fails cleanly, and
leaves the tables as they were. Pasted in carelessly (quotes left single) on
the tests' own connection, an address breaks out on the engines its row
names: the attacks are live."""
import pyodbc
from harness import Case, Db, DELETED, DIAG, DONE, OK1, ini, u8

ALL = ('SQLite', 'PostgreSQL', 'MariaDB')
ATTACKS = [  # class, address after "<<< ", engines where it is live (None: not tried)
    ('quote and comment', "x' OR 1=1 -- ", ALL),
    ('doubled quotes', "x''' OR 1=1 -- ", ALL),
    ('hash comment', "bob@example.com'#", ('MariaDB',)),
    ('stacked statement', "x'; DROP TABLE {t2}; -- ", ('PostgreSQL',)),
    ('union', "x' UNION ALL SELECT name FROM {t2} -- ", ALL),
    ('subquery', "x' OR email = (SELECT MIN(email) FROM {t}) OR 'a'='b", ALL),
    # A decoder that trusted lead bytes would take the quote after one into its character.
    ('lead byte before quote', "\udcc0' OR 1=1 -- ", None),
    ('control bytes', "m\x01\x02\x1b[2J\x7f\t' OR\t1=1 -- ", ALL),
    ('999 quotes', "'" * 999, ()),  # its query, with 1998 of them, is too long to log
    ('wildcards', '_ob@%', ()),
    ('look-alike quotes', 'x\u2019 OR \u02bc1\uff07=\u20191', ()),
    ('trailing blank', 'bob@example.com ', ()),
    ('escapes and markers', "?{fn ucase(email)}$$' OR 1=1 -- ", ALL),
    ('query token', "%recipient%' OR 1=1 -- ", ALL),
    ('merge markers', "%kelvorin%%%1%%' OR 1=1 -- ", ALL),  # they would merge the recipient line
]
QUERY = "SELECT item FROM {t} WHERE email = '%recipient%' ORDER BY item"
BODY = '%kelvorin%\r\n[%%1%%]\r\n%kelvorin%\r\nfirst: %%1%%\r\n'
ORDERS = [('bob@example.com', 'LEAK-BOB-1'), ('bob@example.com', 'LEAK-BOB-2'),
          ("o''carol@example.com", 'LEAK-CAROL-1'), ('', 'LEAK-EMPTY-1')]
CANARY = ['CANARY-1', 'CANARY-2', 'CANARY-3']
FOREIGN = CANARY + [item for _, item in ORDERS]  # in a message: a leak


class Hostile(Case):
    def tables(self, address):
        """Fresh tables and, unless the engine refuses its bytes, the own row."""
        self.db.drop('t', 't2')
        self.db.rows('CREATE TABLE {t} (email {email}, item VARCHAR(40))')
        self.db.rows('INSERT INTO {t} VALUES ' + ', '.join("('%s', '%s')" % row for row in ORDERS))
        self.db.rows('CREATE TABLE {t2} (name VARCHAR(40))')
        self.db.rows('INSERT INTO {t2} VALUES ' + ', '.join("('%s')" % n for n in CANARY))
        try:
            return self.db.rows("INSERT INTO {t} VALUES (%s, 'OWN-ROW')" % u8(address)) or True
        except pyodbc.Error:
            return False

    def intact(self, own):
        try:
            rows = self.db.rows('SELECT name FROM {t2}') + self.db.rows('SELECT item FROM {t}')
        except pyodbc.Error:  # dropped
            return False
        return sorted(rows) == sorted([(v,) for v in FOREIGN] + [('OWN-ROW',)] * own)

    def test_attacks(self):
        self.db = Db()
        self.addCleanup(self.db.drop, 't', 't2')
        for name, address, live in ATTACKS:
            with self.subTest(name):
                self.attack(self.db.fill(address), live, name == 'merge markers')

    def attack(self, address, live, rewritten):
        own, query = self.tables(address), self.db.fill(QUERY)
        head = 'Subject: Hi\r\n<<< %s\r\n' % address
        r = self.run_prog({'kelvorin.INI': ini(), 'query.sql': query, 'msg.txt': head + BODY})
        self.assertEqual([v for v in FOREIGN if v in (r.msg or '')], [], 'rows leaked')
        self.assertTrue(self.intact(own), 'the tables changed')
        logged = query.replace('%recipient%', address.replace("'", "''"), 1)
        log = ['+++ Process: msg.txt'] + [logged] * (len(logged) <= 2000)
        if not own:  # the engine refuses the bytes: no row to find, or the query refused
            no_row = r.log[len(log)] == 'ERROR: no data was retrived'
            self.check(r, None, log + [r.log[len(log)] if no_row else DIAG, DELETED])
        elif rewritten:  # the merge would change the recipient line: refused
            self.check(r, None, log + [OK1, 'ERROR: recipient line changed by the merge', DELETED])
        else:
            self.check(r, head + '[OWN-ROW]\r\nfirst: OWN-ROW\r\n', log + [OK1, DONE])
        if live is not None:
            self.tables(address)
            try:
                rows = self.db.rows(QUERY.replace('%recipient%', address, 1))
            except pyodbc.Error:
                rows = []
            self.assertEqual(bool(set(rows) - {('OWN-ROW',)}) or not self.intact(own),
                             self.db.dbms in live, 'live when careless')

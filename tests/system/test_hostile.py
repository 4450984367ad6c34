"""Hostile recipients, one row per class of attack, on the data source
KELVORIN_DSN: addresses built to break out of the SQL literal that the query
file puts the recipient in. The attacker's own row, other customers' rows and
a canary table lie in the database; the program must merge the own row and
nothing else, or fail cleanly (no row, or the engine refusing the bytes), and
leave both tables as they were. Each address is also pasted in carelessly
(quotes left single) on the tests' own connection: the engines named in a row
are those where it then breaks out, which shows that the attacks are live."""
import pyodbc
from harness import Case, Db, DELETED, DIAG, DONE, OK2, ini, u8

ALL, NONE = ('SQLite', 'PostgreSQL', 'MariaDB'), ()
ATTACKS = [  # class, address after "<<< ", engines where it is live when careless (None: not tried)
    ('quote and comment', "x' OR 1=1 -- ", ALL),
    ('doubled quotes', "x''' OR 1=1 -- ", ALL),
    ('hash comment', "bob@example.com'#", ('MariaDB',)),
    ('stacked statement', "x'; DROP TABLE {t2}; -- ", ('PostgreSQL',)),
    ('union', "x' UNION ALL SELECT name, name FROM {t2} -- ", ALL),
    ('subquery', "x' OR email = (SELECT MIN(email) FROM {t}) OR 'a'='b", ALL),
    # A decoder that trusted lead bytes would take the quote after them into one character.
    ('lead byte before quote', "\udcc0' OR 1=1 -- ", None),
    ('control bytes', "m\x01\x02\x1b[2J\x7f\t' OR\t1=1 -- ", ALL),
    ('999 quotes', "'" * 999, NONE),  # its query, 1998 of them, is too long to log
    ('wildcards', '_ob@%', NONE),
    ('look-alike quotes', 'x\u2019 OR \u02bc1\uff07=\u20191', NONE),
    ('trailing blank', 'bob@example.com ', NONE),
    ('escapes and markers', "?{fn ucase(email)}$$' OR 1=1 -- ", ALL),
    ('query token', "%recipient%' OR 1=1 -- ", ALL),
    # The recipient line itself is rewritten: only the own row is looked for.
    ('merge markers', "%kelvorin%%%1%%' OR 1=1 -- ", ALL),
]
QUERY = "SELECT item, note FROM {t} WHERE email = '%recipient%' ORDER BY item"
BODY, OWN = '%kelvorin%\r\n[%%1%%|%%2%%]\r\n%kelvorin%\r\nfirst: %%1%%\r\n', '[OWN-ROW|own]\r\nfirst: OWN-ROW\r\n'
ORDERS = [('LEAK-BOB-1', 'bob'), ('LEAK-BOB-2', 'bob'), ('LEAK-CAROL-1', 'carol'), ('LEAK-EMPTY-1', 'x')]
CANARY = [('CANARY-1',), ('CANARY-2',), ('CANARY-3',)]
FOREIGN = [v for row in ORDERS + CANARY for v in row if v.isupper()]


class Hostile(Case):
    @classmethod
    def setUpClass(cls):
        cls.db = Db()

    def tables(self, address):
        """Fresh tables and, unless the engine refuses its bytes, the own row."""
        self.db.drop('t', 't2')
        self.db.rows('CREATE TABLE {t} (email {email}, item VARCHAR(40), note VARCHAR(40))')
        self.db.rows("INSERT INTO {t} VALUES ('bob@example.com', 'LEAK-BOB-1', 'bob'), ('bob@example"
                     ".com', 'LEAK-BOB-2', 'bob'), ('o''carol@example.com', 'LEAK-CAROL-1', 'carol'), "
                     "('', 'LEAK-EMPTY-1', 'x')")
        self.db.rows('CREATE TABLE {t2} (name VARCHAR(40))')
        self.db.rows("INSERT INTO {t2} VALUES ('CANARY-1'), ('CANARY-2'), ('CANARY-3')")
        try:
            return self.db.rows("INSERT INTO {t} VALUES (%s, 'OWN-ROW', 'own')" % u8(address)) or True
        except pyodbc.Error:
            return False

    def intact(self, own):
        try:
            return (self.db.rows('SELECT name FROM {t2} ORDER BY name'), sorted(
                self.db.rows('SELECT item, note FROM {t}'))) == (CANARY, ORDERS + [('OWN-ROW', 'own')] * own)
        except pyodbc.Error:  # dropped
            return False

    def test_attacks(self):
        self.addCleanup(self.db.drop, 't', 't2')
        for name, address, live in ATTACKS:
            with self.subTest(name):
                self.attack(self.db.fill(address), live, name == 'merge markers')

    def attack(self, address, live, rewritten):
        own, query = self.tables(address), self.db.fill(QUERY)
        head = 'Subject: Your orders\r\n<<< %s\r\n' % address
        r = self.run_prog({'kelvorin.INI': ini(), 'query.sql': query, 'msg.txt': head + BODY})
        self.assertEqual([v for v in FOREIGN if v in (r.msg or '')], [], 'rows leaked')
        self.assertTrue(self.intact(own), 'the tables changed')
        logged = query.replace('%recipient%', address.replace("'", "''"), 1)
        log = ['+++ Process: msg.txt'] + [logged] * (len(logged) <= 2000)
        if not own:  # the engine refuses the bytes: no row to find, or the query refused
            self.check(r, None, log + [DIAG if r.log[len(log)].startswith('ERROR: SQL') else
                                       'ERROR: no data was retrived', DELETED])
        elif rewritten:
            self.assertIn('first: OWN-ROW', r.msg)
            self.assertEqual(r.log, log + [OK2, DONE])
        else:
            self.check(r, head + OWN, log + [OK2, DONE])
        if live is not None:
            self.tables(address)
            try:
                leaked = [v for row in self.db.rows(QUERY.replace('%recipient%', address, 1))
                          for v in row if v in FOREIGN]
            except pyodbc.Error:
                leaked = []
            self.assertEqual(bool(leaked) or not self.intact(own), self.db.dbms in live, 'live')

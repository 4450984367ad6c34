"""Whole runs on SQLite for generated templates, rows and settings: the plug-in writes what model.py
says, kelvorin-check previews it alike, a kill leaves the old message or the whole new one."""
import os, pathlib
from harness import CHECK, DONE, KEEP, NAME, Case, assume, example, given, ini, raw, shim, st
import model

ADDRESS = b'ann@example.com'
PLAIN = [b'a', b'Hi ', b' ', b'\t', b'\r\n', b'\r', b'\n', b'%', b'%%', b'1', b'<<< ', 'ä'.encode()]
FILLED = [b'%%1%%', b'%%2%%', b'%%02%%', b'%%4%%', b'%%4294967297%%', b'%KELVORIN%',
          b'%%' + b'0' * 49 + b'1%%', b'%%' + b'0' * 50 + b'1%%']  # with the marker: half
SPOOFS = [b'\r\n<<< ' + ADDRESS, b'<<< ' + ADDRESS, b'x\nBcc: spy@x.org', b'\r\n<<< evil@x.net\r\n']
KEYS = {'SkipSpaces': st.sampled_from(['No', 'yes']), 'HeaderGuard': st.sampled_from(
    ['Yes', 'No']), 'FormatLeft': st.integers(-2, 12), 'FormatRight': st.integers(-2, 16)}


@st.composite
def cases(draw):
    """(template, rows, INI keys): rows of 1 to 3 columns; no row block takes in the recipient
    line, which is the template's first."""
    rowname = draw(st.sampled_from([None, '', 'kelvorin', 'r', '1', '%']))
    keys = {'Rowname': rowname, **draw(st.fixed_dictionaries({}, optional=KEYS))}
    marker = options(keys).marker
    text = lambda more: st.lists(st.one_of(st.sampled_from(PLAIN + more), st.sampled_from(
        FILLED + [marker])), max_size=4).map(b''.join)
    part = lambda more: st.lists(st.one_of(text(more), text(more).map(
        lambda t: marker + t + marker)), max_size=3).map(b''.join)  # a row block half the time
    head = draw(part([]))
    template = head + model.PREFIX + ADDRESS + draw(st.sampled_from([b'\r\n', b''])) + draw(
        part([b'\0']))
    columns = draw(st.integers(1, 3))
    blank = st.sampled_from([b'', b' ', b'\t '])
    value = st.one_of(st.tuples(blank, text(['😀'.encode()]), blank).map(b''.join),
                      st.sampled_from(SPOOFS), st.just(None))
    rows = draw(st.lists(st.lists(value, min_size=columns, max_size=columns), min_size=1,
                         max_size=3))
    assume(model.recipient_line(template)[0] == len(head))
    assume(not model.spans_line(template, options(keys)))
    return template, rows, keys


def options(keys):
    return model.options(b'kelvorin' if keys['Rowname'] is None else keys['Rowname'].encode(),
                         keys.get('FormatLeft', 0), keys.get('FormatRight', 0),
                         keys.get('SkipSpaces', 'Yes').lower() == 'yes',
                         keys.get('HeaderGuard') != 'No')


def files(template, rows, keys):
    """The run's files: rows from a SELECT of hex literals, in order; failures keep the message."""
    lit = lambda v: 'NULL' if v is None else "CAST(X'%s' AS TEXT)" % v.hex()
    select = ' UNION ALL '.join('SELECT %d AS k, %s' % (i, ', '.join(
        '%s AS c%d' % (lit(v), j) for j, v in enumerate(row))) for i, row in enumerate(rows))
    query = "SELECT %s FROM (%s) WHERE '%%recipient%%' <> '' ORDER BY k" % (
        ', '.join('c%d' % j for j in range(len(rows[0]))), select)
    opts = ''.join('%s=%s\r\n' % (k, v) for k, v in keys.items() if k != 'Rowname')
    db = '' if keys['Rowname'] is None else 'Rowname=%s\r\n' % keys['Rowname']
    return {'kelvorin.INI': ini(db, KEEP + opts),
            'query.sql': query, 'msg.txt': template.decode('utf-8', 'surrogateescape')}


class Properties(Case):
    def setUp(self):
        self.d = self.folder()

    def merge(self, case, prog=NAME, **start):  # the message (bytes), last log line, output
        pathlib.Path(self.d, 'kelvorin.LOG').unlink(missing_ok=True)
        r = self.run_prog(files(*case), d=self.d, prog=prog, status=None, **start)
        return raw(r.msg), r.log and r.log[-1], raw(r.out)

    @given(cases())  # and what it found: a value that makes a recipient line before the own
    @example((b'%%1%%\r\n<<< ann@example.com\r\n', [[b'\r\n<<< ann@example.com']],
              {'Rowname': None, 'HeaderGuard': 'No'}))
    @example((b'\r\n%%2%%\r\n<<< ann@example.com\r\n', [[b'', b'<<< ann@example.com', None]],
              {'Rowname': None}))
    def test_merged_as_modelled_and_previewed_alike(self, case):
        merged, error = model.merge(case[0], case[1], options(case[2]))
        msg, last, _ = self.merge(case)
        self.assertEqual((msg, last), (merged or case[0], error or DONE))
        self.assertEqual(self.merge(case, prog=CHECK)[2], merged or b'')

    @given(cases(), st.sampled_from(['write', 'fsync', 'rename']), st.integers(1, 8))
    def test_a_kill_leaves_the_old_or_the_whole_new_message(self, case, op, nth):
        if 'KELVORIN_IO_SHIM' not in os.environ:
            self.skipTest('the kill shim preloads into Linux programs only')
        merged = model.merge(case[0], case[1], options(case[2]))[0]
        killed = self.merge(case, **shim('%s:%d:kill:0' % (op, nth), '*[!G]'))[0]  # not the LOG
        self.assertIn(killed, (case[0], merged))

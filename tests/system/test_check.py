"""kelvorin-check (KELVORIN_CHECK) beside the plug-in, both of one build: a
template it finds clean merges to exactly what the plug-in writes, problems
come with their lines, a folder is tallied, a mailing's log summed up, and
nothing is written. Each problem it knows has its row in the unit tables."""
import os, shutil, subprocess, tempfile
from harness import Case, HEAD, RUNNER, ini, put, read, text

CHECK = os.environ['KELVORIN_CHECK']
QUERY = "SELECT 'A', 'B' UNION ALL SELECT '%recipient%', 'D'"  # two rows for anyone
GOOD = HEAD + '%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n'
BAD = HEAD + 'Total %%1%%\r\n%kelvorin%\r\n%%3%%\r\n'
NO_RCPT = "ERROR: can't extract recipient email from message"


class Check(Case):
    def setUp(self):
        self.d = self.folder()
        shutil.copy(CHECK, self.d)
        put(self.d, 'kelvorin.INI', ini(opts='[Options]\r\nDeleteOnError=No\r\n'))
        put(self.d, 'query.sql', QUERY)

    def run_check(self, *args):
        """Exit status, standard output and error of the checker in the folder."""
        argv = [RUNNER] * bool(RUNNER) + [os.path.join(self.d, os.path.basename(CHECK))]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:  # not pipes:
            status = subprocess.call(argv + list(args), cwd=self.d,  # Wine holds them open
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=120)
            return (status,) + tuple((f.seek(0), text(f.read()))[1] for f in (out, err))

    def test_message(self):
        for message, status, found in [
                (GOOD, 0, []),  # but for the INI's misspelt key
                (BAD, 1, ['msg.txt:3: placeholder %%1%% is outside every row block',
                          'msg.txt:4: row-block marker %kelvorin% has no partner',
                          'msg.txt:5: placeholder %%3%% names no column: the query gives 2'])]:
            with self.subTest(message):
                put(self.d, 'msg.txt', message)
                if os.path.exists(self.d + '/kelvorin.LOG'):
                    os.remove(self.d + '/kelvorin.LOG')
                got, out, err = self.run_check('msg.txt')
                self.assertEqual((got, os.listdir(self.d).count('kelvorin.LOG')), (1, 0), err)
                for line in found + ['SQL OK (2)', 'Complete!', 'DeleteOnError is not a key the '
                                     'plug-in reads; did you mean DeleteOnErrors?']:
                    self.assertIn(line, err)
                # the log's 4 lines, the INI's key, the problems, the marker left in the merge
                self.assertEqual(len(err.splitlines()), 5 + len(found) + bool(found), err)
                self.assertEqual(read(self.d + '/msg.txt'), message)
                plugin = self.run_prog({}, d=self.d)
                self.assertEqual(out, plugin.msg)  # byte for byte what the plug-in writes

    def test_folder_and_log(self):
        put(self.d, 'kelvorin.INI', ini())
        for name, message in [('a.txt', GOOD), ('b.txt', BAD), ('c.txt', 'no recipient\r\n'),
                              ('.kelvorin-x', GOOD)]:
            put(self.d, 'spool/' + name, message)
        status, out, err = self.run_check('spool')
        self.assertEqual(status, 1, err)
        for line in ['3 messages in spool', 'would merge        2', 'would fail         1',
                     '1  ' + NO_RCPT, 'c.txt: ' + NO_RCPT, 'b.txt:5: placeholder %%3%%']:
            self.assertIn(line, out)
        for name in ('a.txt', 'b.txt', 'c.txt'):
            self.run_prog({}, args=['spool/' + name], d=self.d, path='spool/' + name)
        status, out, err = self.run_check('--log', 'kelvorin.LOG')
        self.assertEqual(status, 1, err)
        for line in ['runs               3', 'completed          2', 'failed             1',
                     '1  ' + NO_RCPT, 'deleted            1', 'slowest minute: ']:
            self.assertIn(line, out)
        self.assertEqual(self.run_check('--log')[0], 2)  # bad arguments
        os.remove(self.d + '/kelvorin.INI')
        self.assertEqual(self.run_check('spool')[0], 2)  # no INI

"""kelvorin-check beside the plug-in, both of one build: a template it finds
clean merges to exactly what the plug-in writes, problems come with their
lines, a folder is tallied, a mailing's log summed up, and nothing is written.
Each problem it knows has its row in the unit tables."""
import os, shutil
from harness import CHECK, Case, HEAD, ini, put, read

QUERY = "SELECT 'A', 'B' UNION ALL SELECT '%recipient%', 'D'"  # two rows for anyone
GOOD = HEAD + '%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n'
BAD = HEAD + 'Total %%1%%\r\n%kelvorin%\r\n%%3%%\r\n'
NO_RCPT = "ERROR: can't extract recipient email from message"
TYPO = 'DeleteOnError is not a key the plug-in reads; did you mean DeleteOnErrors?'


class Check(Case):
    def checker(self, opts=''):
        """A fresh folder with the checker beside the plug-in."""
        self.d = self.folder()
        shutil.copy(CHECK, self.d)
        put(self.d, 'kelvorin.INI', ini(opts=opts))
        put(self.d, 'query.sql', QUERY)

    def run_check(self, status, *args):
        """The checker's standard output and error; its exit status must be status."""
        r = self.finish(self.start({}, args, d=self.d, prog=os.path.basename(CHECK)), status=status)
        return r.out, r.err

    def test_message(self):
        for message, found in [(GOOD, []), (BAD, [
                'msg.txt:3: placeholder %%1%% is outside every row block',
                'msg.txt:4: row-block marker %kelvorin% has no partner',
                'msg.txt:5: placeholder %%3%% names no column: the query gives 2'])]:
            with self.subTest(message):
                self.checker('[Options]\r\nDeleteOnError=No\r\n')
                put(self.d, 'msg.txt', message)
                out, err = self.run_check(1, 'msg.txt')  # 1 for the INI's misspelt key alone
                for line in found + ['SQL OK (2)', 'Complete!', TYPO]:
                    self.assertIn(line, err)
                # the log's 4 lines, the INI's key, the problems, the marker left in the merge
                self.assertEqual(len(err.splitlines()), 5 + len(found) + bool(found), err)
                self.assertEqual((read(self.d + '/msg.txt'), os.listdir(self.d).count(
                    'kelvorin.LOG')), (message, 0))
                self.assertEqual(out, self.run_prog({}, d=self.d).msg)  # what the plug-in writes

    def test_folder_and_log(self):
        self.checker()
        for name, message in [('a.txt', GOOD), ('b.txt', BAD), ('c.txt', 'no recipient\r\n'),
                              ('.kelvorin-x', GOOD)]:
            put(self.d, 'spool/' + name, message)
        out, err = self.run_check(1, 'spool')
        for line in ['3 messages in spool', 'would merge        2', 'would fail         1',
                     '1  ' + NO_RCPT, 'c.txt: ' + NO_RCPT, 'b.txt:5: placeholder %%3%%']:
            self.assertIn(line, out)
        for name in ('a.txt', 'b.txt', 'c.txt'):
            self.run_prog({}, args=['spool/' + name], d=self.d, path='spool/' + name)
        out, err = self.run_check(1, '--log', 'kelvorin.LOG')
        for line in ['runs               3', 'completed          2', 'failed             1',
                     '1  ' + NO_RCPT, 'deleted            1', 'slowest minute: ']:
            self.assertIn(line, out)
        self.run_check(2, '--log')  # bad arguments
        os.remove(self.d + '/kelvorin.INI')
        self.run_check(2, 'spool')  # no INI

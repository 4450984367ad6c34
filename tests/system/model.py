"""The merge as the README states it, on bytes: what the plug-in must write for a template, its rows
and its settings, or the error line of a merge that it must refuse. Slow and plain on purpose."""
import re
from types import SimpleNamespace

PREFIX, CHANGED = b'\r\n<<< ', 'ERROR: recipient line changed by the merge'


def options(rowname=b'kelvorin', left=0, right=0, skip=True, guard=True):
    return SimpleNamespace(marker=b'%' + rowname + b'%', left=left, right=right, skip=skip,
                           guard=guard)


def recipient_line(text):
    """Where the first recipient line's prefix is (before any NUL), and its address; (-1, b'')."""
    at = text.split(b'\0', 1)[0].find(PREFIX)
    return (at, re.match(rb'[^\r\n\0]*', text[at + len(PREFIX):])[0]) if at >= 0 else (-1, b'')


def wrap(cell, left, right):
    """Words between the margins: a break before a word that would end past right."""
    out, column = b'', None
    for word in re.findall(rb'[^ \t\r\n]+', cell):
        if column is None or column + len(word) > right:
            out += (b'\n' if column is not None else b'') + b' ' * max(left, 0)
            column = max(left, 0)
        else:
            out, column = out + b' ', column + 1
        out, column = out + word, column + len(word)
    return out


def fill(text, columns, value):
    """text with each valid placeholder %%N%% as value(N); an invalid one keeps %% and digits."""
    out, at = b'', 0
    while (mark := text.find(b'%%', at)) >= 0:
        digits = re.match(rb'[0-9]{0,50}', text[mark + 2:])[0]
        n, end = int(digits or 0), mark + 2 + len(digits)
        valid = text[end:end + 2] == b'%%' and 1 <= n <= columns
        out, at = out + text[at:mark] + (value(n) if valid else text[mark:end]), end + 2 * valid
    return out + text[at:]


def cell(rows, row, n, s, header, wrapped):
    """Column n of a row: trimmed, wrapped in a row block, line breaks blank in the header."""
    v = rows[row][n - 1]
    v = b'<null>' if v is None else v.strip(b' \t') if s.skip else v
    if wrapped and (s.left or s.right) and s.right - s.left < len(v):
        v = wrap(v, s.left, s.right)
    return v.replace(b'\r', b' ').replace(b'\n', b' ') if header and s.guard else v


def expand(text, rows, s, header):
    """Pass 1: each row block (a marker's line break dropped) once per row, the rest as it is."""
    out, at, m, columns = b'', 0, s.marker, len(rows[0])
    while (open_ := text.find(m, at)) >= 0 and (close := text.find(m, open_ + len(m))) >= 0:
        block = skip_break(text[open_ + len(m):close])
        out += text[at:open_] + b''.join(
            fill(block, columns, lambda n: cell(rows, r, n, s, header, True))
            for r in range(len(rows)))
        at = len(text) - len(skip_break(text[close + len(m):]))
    return out + text[at:]


def skip_break(text):  # a marker's line break: one CR, then one LF
    return text[len(re.match(rb'\r?\n?', text)[0]):]


def merge(template, rows, s):
    """The merged message and None, or None and the error line. The header (the template's text
    before its recipient line) and the rest are merged apart: no row block spans the line."""
    at, address = recipient_line(template)
    part = lambda text, header: fill(expand(text, rows, s, header), len(rows[0]),
                                     lambda n: cell(rows, 0, n, s, header, False))
    out_head = part(template[:at + 2], True)
    out = out_head + part(template[at + 2:], False)
    if recipient_line(out) != (len(out_head) - 2, address):
        return None, CHANGED
    return out, None


def spans_line(template, s):
    """Whether a row block or a marker takes in part of the template's recipient line."""
    at, address = recipient_line(template)
    start, end, m, pos = at + 2, at + len(PREFIX) + len(address), s.marker, 0
    while (open_ := template.find(m, pos)) >= 0:
        close = template.find(m, open_ + len(m))
        if open_ < end and (close if close >= 0 else open_) + len(m) > start:
            return True
        pos = close + len(m) if close >= 0 else len(template)
    return False

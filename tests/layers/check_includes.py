#!/usr/bin/env python3
"""Checks every #include of the station (src/) and the emulated lab (emulator/)
against the layer table docs/layers.txt, and that only the SCPI helpers touch
their shared buffers. Prints one line per wrong edge as
FILE:LINE: reason, and exits 1 when there is any.

  check_includes.py REPO_ROOT          check the tree
  check_includes.py --self-test        check that a wrong edge is caught
"""
import fnmatch
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

# What pure code may include: the C++ standard library and the C library
# headers it carries.
STANDARD = set("""
algorithm any array atomic bit bitset cassert cctype cerrno cfloat charconv chrono cinttypes
climits clocale cmath compare concepts cstdarg cstddef cstdint cstdio cstdlib cstring ctime
cwchar cwctype deque exception filesystem format forward_list functional initializer_list
iomanip ios iosfwd iostream istream iterator limits list locale map memory mutex new numbers
numeric optional ostream queue random ranges ratio regex set source_location span sstream stack
stdexcept string string_view system_error thread tuple type_traits typeinfo unordered_map
unordered_set utility valarray variant vector version
assert.h ctype.h errno.h float.h inttypes.h limits.h locale.h math.h stdarg.h stddef.h stdint.h
stdio.h stdlib.h string.h time.h
""".split())
FOREIGN = re.compile(r'^(Q[A-Za-z]*|Qt[A-Za-z]*/.*|lxi\.h|rpc/.*|tirpc/.*|vxi11/.*)$')


def load_table(path):
    allowed, pure, foreign_home = {}, [], set()
    with open(path) as table:
        for raw in table:
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            key, _, rest = line.partition(':')
            words = rest.split()
            if key == 'pure':
                pure = words
            elif key == 'foreign-headers-only-in':
                foreign_home = set(words)
            else:
                allowed[key] = set(words) | {key}
    return allowed, pure, foreign_home


def is_pure(relative, pure):
    return any(fnmatch.fnmatch(relative, pattern) for pattern in pure)


def sources(folder):
    for top, _, names in sorted(os.walk(folder)):
        for name in sorted(names):
            if name.endswith(('.h', '.hpp', '.cpp', '.cc', '.c')):
                yield os.path.join(top, name)


def check(root, table_path):
    allowed, pure, foreign_home = load_table(table_path)
    src = os.path.join(root, 'src')
    emulator = os.path.join(root, 'emulator')
    faults = []

    def fault(path, number, reason):
        faults.append(f'{os.path.relpath(path, root)}:{number}: {reason}')

    for path in sources(src):
        relative = os.path.relpath(path, src)
        layer = relative.split(os.sep)[0]
        if layer not in allowed:
            fault(path, 1, f'folder src/{layer}/ is not a layer of docs/layers.txt')
            continue
        pure_file = is_pure(relative, pure)
        with open(path, errors='replace') as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quote, header = match.groups()
                if quote == '<':
                    if pure_file and header not in STANDARD:
                        fault(path, number, f'pure code includes <{header}>, not the standard library')
                    elif FOREIGN.match(header) and layer not in foreign_home:
                        fault(path, number, f'<{header}> is reached through platform/ only')
                    continue
                if header.startswith(('emulator/', '../')) or os.path.exists(
                        os.path.join(emulator, header)) and not os.path.exists(os.path.join(src, header)):
                    fault(path, number, f'station code includes "{header}" from outside src/')
                    continue
                target = header.split('/')[0] if '/' in header else layer
                if '/' not in header and not os.path.exists(os.path.join(os.path.dirname(path), header)):
                    fault(path, number, f'"{header}": include station headers by their path below src/')
                    continue
                if target not in allowed:
                    fault(path, number, f'"{header}" is not below a layer of src/')
                elif target not in allowed[layer]:
                    fault(path, number, f'{layer}/ may not include {target}/ ("{header}")')
                elif pure_file and not is_pure(header, pure):
                    fault(path, number, f'pure code includes "{header}", which is not pure')

    # The SCPI helpers' shared buffers are theirs: other code goes through the
    # helpers (tests of the helpers excepted).
    shared = re.compile(r'\b(readbuff|numread|numwritten|stropc)\b')
    owner = os.path.join('instrument', 'DUT_IP_Control.')
    for path in sources(src):
        if os.path.relpath(path, src).startswith(owner):
            continue
        with open(path, errors='replace') as text:
            for number, line in enumerate(text, 1):
                match = shared.search(line.split('//', 1)[0])
                if match:
                    fault(path, number, f'{match.group(1)} belongs to the SCPI helpers (instrument/DUT_IP_Control)')

    for path in sources(emulator):
        with open(path, errors='replace') as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match or match.group(1) == '<':
                    continue
                header = match.group(2)
                local = os.path.exists(os.path.join(os.path.dirname(path), header)) or \
                    os.path.exists(os.path.join(emulator, header))
                if header.startswith(('src/', '../')) or not local:
                    fault(path, number, f'the emulated lab includes "{header}" from outside emulator/')
    return faults


def self_test():
    """A tree with known wrong edges must fail with their files and lines."""
    here = os.path.dirname(os.path.abspath(__file__))
    table = os.path.join(here, '..', '..', 'docs', 'layers.txt')
    with tempfile.TemporaryDirectory() as root:
        files = {
            'src/geo/Geo.cpp': '#include <cmath>\n#include "platform/ui.h"\n',
            'src/receiver/Link.cpp': '#include "receiver/Nmea.h"\n\n#include "state/StationState.h"\n',
            'src/receiver/Nmea.h': '#include <QString>\n',
            'src/platform/ui.h': '#include <QWidget>\n',
            'src/state/StationState.h': '#include <string>\n',
            'src/instrument/Scpi.cpp': '#include "procedures/X47_GNSS.h"\n',
            'src/procedures/X47_GNSS.h': '#include "platform/ui.h"\n',
            'src/procedures/Scope.cpp': 'int n = numread;  // reaches into the SCPI helpers\n',
            'emulator/Main.cpp': '#include "Main.h"\n#include "platform/ui.h"\n',
            'emulator/Main.h': '',
        }
        for name, body in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(root, name), 'w') as out:
                out.write(body)
        expected = {
            'src/geo/Geo.cpp:2', 'src/receiver/Link.cpp:3', 'src/receiver/Nmea.h:1',
            'src/instrument/Scpi.cpp:1', 'emulator/Main.cpp:2', 'src/procedures/Scope.cpp:1',
        }
        found = {f.split(': ')[0] for f in check(root, table)}
        if found != expected:
            print(f'self-test: expected faults at {sorted(expected)}, found {sorted(found)}')
            return 1
    print(f'self-test: all {len(expected)} wrong edges caught')
    return 0


def main():
    if sys.argv[1:] == ['--self-test']:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
    faults = check(root, os.path.join(root, 'docs', 'layers.txt'))
    for line in faults:
        print(line)
    if faults:
        print(f'{len(faults)} include(s) against the layer table docs/layers.txt')
        return 1
    print('every include follows docs/layers.txt')
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""The demo as a newcomer runs it: `./station demo` from a fresh clone of the
repository (on the tree this build made, --no-build), then what it leaves
checked as a user reads it: the verdict lines, SUMMARY.html with the basic
section before the moving one, every picture it shows on disk, and the page
rendered by headless Chromium with its tables and every image loaded.

  demo_test.py SOURCE_DIR BUILD_DIR
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile


def fail(message):
    print('FAIL: ' + message)
    sys.exit(1)


def rendered(summary):
    """What Chromium makes of the page: its tables and images, as counted by
    a script added to a copy of it beside the original (the pictures are
    relative to it)."""
    chromium = shutil.which('chromium') or shutil.which('chromium-browser')
    if not chromium:
        return None
    probe = os.path.join(os.path.dirname(summary), 'summary-probe.html')
    with open(summary, encoding='latin-1') as page, open(probe, 'w', encoding='latin-1') as out:
        out.write(page.read())
        out.write("<script>window.addEventListener('load', () => {"
                  "const images = [...document.images];"
                  "const loaded = images.filter(i => i.complete && i.naturalWidth > 0).length;"
                  "document.title = 'tables=' + document.querySelectorAll('table').length +"
                  " ' images=' + images.length + ' loaded=' + loaded;});</script>")
    result = subprocess.run(
        [chromium, '--headless', '--no-sandbox', '--disable-gpu', '--allow-file-access-from-files',
         '--virtual-time-budget=10000', '--dump-dom', 'file://' + probe],
        capture_output=True, text=True, timeout=120)
    os.unlink(probe)
    match = re.search(r'<title>tables=(\d+) images=(\d+) loaded=(\d+)</title>', result.stdout)
    if not match:
        fail('Chromium did not render the page: ' + result.stderr[-500:])
    return tuple(int(n) for n in match.groups())


def main():
    source, build = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix='station-demo-') as scratch:
        clone = os.path.join(scratch, 'clone')
        if subprocess.run(['git', '-C', source, 'rev-parse', '--git-dir'],
                          capture_output=True).returncode != 0:
            print('SKIP: the source is not a git checkout, so there is nothing to clone')
            return 0
        subprocess.run(['git', 'clone', '--quiet', '--local', '--no-hardlinks', source, clone],
                       check=True)
        work = os.path.join(scratch, 'demo')
        env = dict(os.environ, STATION_BUILD_DIR=build)
        # 0.05 instead of the demo's 0.02: the drive then lasts long enough in
        # wall time for its 30th pass (its pictures) on a loaded or
        # sanitizer-slowed machine.
        env['GNSS_TIME_SCALE'] = '0.05'
        env.pop('DISPLAY', None)
        env.pop('WAYLAND_DISPLAY', None)
        run = subprocess.run([os.path.join(clone, 'station'), 'demo', '--no-build', '--workdir', work],
                             capture_output=True, text=True, timeout=600, env=env)
        print(run.stdout[-3000:])
        print(run.stderr[-3000:])
        if run.returncode != 0:
            fail(f'./station demo exited {run.returncode}')
        for test in ('Basic localization (test 000)', 'Moving receiver (test 001)'):
            if not re.search(re.escape(test) + r'\s+PASS\s+average error 2D [0-9.]+ m', run.stdout):
                fail(f'no PASS line with averages for {test}')
        if 'verdict: PASS' not in run.stderr:
            fail('no final verdict line')

        runs = sorted(glob.glob(os.path.join(work, 'LOG', 'KELMAR_LOGS_*')))
        if len(runs) != 1:
            fail(f'expected one run-log directory, found {runs}')
        summary = os.path.join(runs[0], 'SUMMARY.html')
        text = open(summary, encoding='latin-1').read()
        basic = text.find('<h1>Summary of BASIC Localization Test Run (Test 000)</h1>')
        moving = text.find('<h1>Summary of Moving Receiver Test Run (Test 001)</h1>')
        if basic < 0 or moving < 0 or moving < basic:
            fail('SUMMARY.html does not hold the basic section and then the moving section')
        pictures = re.findall(r"src='([^']+)'", text)
        if len(pictures) != 4:
            fail(f'expected four pictures in SUMMARY.html, found {pictures}')
        for picture in pictures:
            if not os.path.getsize(os.path.join(runs[0], picture)):
                fail(f'{picture} is empty')

        counts = rendered(summary)
        if counts is None:
            print('SKIP (rendering only): chromium is not installed')
        elif counts != (2, 4, 4):
            fail(f'Chromium rendered tables, images, loaded images = {counts}, expected (2, 4, 4)')
        print('the demo passed, SUMMARY.html holds both sections and renders with every image')
    return 0


if __name__ == '__main__':
    sys.exit(main())

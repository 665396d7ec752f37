# -*- coding: utf-8 -*-
# Copyright: Nodewarden Developers <team@nodewarden.dev>
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)
"""The collection's own tests, offline, with the Debian packages of the machine:

- the unit tests of tests/unit (unittest);
- ansible-test sanity, every test but those in SKIPPED.

  python3 tests/run.py [--units] [--sanity]      (both without an option)

ansible-test runs most sanity tests in virtual environments of their own and installs their
requirements into them with pip, from the network. Here each such environment is made
beforehand, where ansible-test looks for it (in a private HOME), on the system's site
packages (pylint, pycodestyle, yamllint, voluptuous, PyYAML, Jinja2 from Debian), and marked
as complete, so that ansible-test installs nothing. As root the run is inside a network
namespace of its own, so nothing can reach the network.

Works on a copy of the collection under ansible_collections/nodewarden/fleet in a temporary
folder, which ansible-test needs. Exit 0 when all pass, 1 when one does not, 2 for a usage
error.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

NAMESPACE = 'nodewarden'
NAME = 'fleet'
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)

# Sanity tests that cannot run offline on Debian 12, and why.
SKIPPED = {
    # antsibull-changelog, which lints changelogs/, has no Debian 12 package.
    'changelog': 'antsibull-changelog has no Debian 12 package',
}

# ansible-test's words for a virtual environment it made but could not install into.
_NO_PIP = re.compile(r'Python \S+ at "(?P<path>[^"]+)/bin/python" does not have pip available')

SANITY_SECONDS = 900


def copy_collection(work):
    root = os.path.join(work, 'ansible_collections', NAMESPACE, NAME)
    # A copy, not a link: ansible-test wants the real path inside ansible_collections.
    shutil.copytree(SOURCE, root, ignore=shutil.ignore_patterns('__pycache__', 'output',
                                                                '.plugin-cache.yaml'))
    return root


def offline_prefix():
    """unshare -n as root where it works: the run then has no network at all."""
    if os.geteuid() == 0 and shutil.which('unshare') and subprocess.run(
            ['unshare', '-n', 'true'], capture_output=True, check=False).returncode == 0:
        return ['unshare', '-n', '--']
    return []


def make_environment(path):
    """A virtual environment on the system's site packages that ansible-test takes as one it
    made and installed its requirements into."""
    subprocess.run([sys.executable, '-m', 'venv', '--system-site-packages', '--without-pip',
                    path], check=True)
    with open(os.path.join(path, 'meta.install.json'), 'w') as f:
        json.dump([], f)
    with open(os.path.join(path, 'meta.yaml.json'), 'w') as f:
        # Whether PyYAML has libyaml: Debian's has.
        json.dump(True, f)
    with open(os.path.join(path, 'marker.txt'), 'w') as f:
        f.write('made by tests/run.py on the system site packages\n')


def sanity(work):
    root = copy_collection(work)
    home = os.path.join(work, 'home')
    os.makedirs(home)
    env = dict(os.environ, HOME=home, ANSIBLE_NOCOLOR='1', ANSIBLE_LOCAL_TEMP=os.path.join(work, 'tmp'))
    python = '%d.%d' % sys.version_info[:2]
    argv = offline_prefix() + ['ansible-test', 'sanity', '--python', python]
    for test in sorted(SKIPPED):
        argv += ['--skip-test', test]

    # Each round makes the environment that ansible-test names as lacking pip; one round per
    # environment at most.
    made = []
    for attempt in range(40):
        run = subprocess.run(argv + ['--prime-venvs'], cwd=root, env=env, capture_output=True,
                             text=True, timeout=SANITY_SECONDS, check=False)
        missing = _NO_PIP.search(run.stdout + run.stderr)
        if run.returncode == 0:
            break
        if missing is None or missing.group('path') in made:
            print('FAIL: ansible-test sanity --prime-venvs:\n%s%s' % (run.stdout, run.stderr))
            return False
        made.append(missing.group('path'))
        shutil.rmtree(missing.group('path'), ignore_errors=True)
        make_environment(missing.group('path'))
    else:
        print('FAIL: ansible-test sanity --prime-venvs still needs environments: %s' % made)
        return False

    run = subprocess.run(argv, cwd=root, env=env, capture_output=True, text=True,
                         timeout=SANITY_SECONDS, check=False)
    print(run.stdout + run.stderr)
    ran = re.findall(r'^Running sanity test "([^"]+)"', run.stdout + run.stderr, re.MULTILINE)
    if run.returncode != 0:
        print('FAIL: ansible-test sanity')
        return False
    print('ok: ansible-test sanity, %d tests (%s); skipped: %s'
          % (len(ran), ' '.join(ran), '; '.join('%s (%s)' % i for i in sorted(SKIPPED.items()))))
    return True


def units(work):
    root = copy_collection(work)
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(os.path.dirname(root))))
    tests = sorted(os.path.relpath(p, root) for p in glob.glob(
        os.path.join(root, 'tests', 'unit', '**', 'test_*.py'), recursive=True))
    run = subprocess.run([sys.executable, '-m', 'unittest'] + tests, cwd=root, env=env,
                         capture_output=True, text=True, timeout=300, check=False)
    print(run.stdout + run.stderr)
    found = re.search(r'^Ran (\d+) tests?', run.stderr, re.MULTILINE)
    if run.returncode != 0 or found is None or found.group(1) == '0':
        print('FAIL: unit tests')
        return False
    print('ok: %s unit tests' % found.group(1))
    return True


def ansible_tests_python():
    """The Python that ansible-test runs on (its shebang): the one with Ansible and the
    system's site packages, whatever python3 comes first on PATH."""
    program = shutil.which('ansible-test')
    if program is None:
        return None
    with open(program, 'rb') as f:
        first = f.readline().decode(errors='replace')
    return first[2:].strip().split()[0] if first.startswith('#!') else None


def main():
    python = ansible_tests_python()
    if python is None:
        print('FAIL: ansible-test is not installed')
        return 1
    if os.path.realpath(python) != os.path.realpath(sys.executable):
        os.execv(python, [python] + sys.argv)
    options = set(sys.argv[1:])
    if not options <= set(['--units', '--sanity']):
        print(__doc__)
        return 2
    parts = [units, sanity]
    if options:
        parts = [p for p in parts if '--' + p.__name__ in options]
    ok = True
    for part in parts:
        work = tempfile.mkdtemp(prefix='nw-collection-%s-' % part.__name__)
        try:
            ok = part(work) and ok
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())

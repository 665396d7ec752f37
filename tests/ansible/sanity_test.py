#!/usr/bin/env python3
"""Checks of the collection that need nothing from the network:

- every Python file compiles;
- ansible-doc renders every module, with DOCUMENTATION, EXAMPLES and RETURN;
- each module's arguments are what its documentation says (names, types, elements,
  defaults, required), and its examples use only documented options;
- the release of galaxy.yml is in the changelog;
- the collection's unit tests (tests/run.py --units).

ansible-test sanity runs with tests/run.py of the collection, a step of its own in CI.

  sanity_test.py COLLECTION_DIR

Exit 0 when all hold, 1 when one does not, 77 (skipped) without ansible-doc.
"""

import glob
import importlib
import json
import os
import py_compile
import shutil
import subprocess
import sys
import tempfile

from ansible_python import run_under_ansibles_python

run_under_ansibles_python()

import yaml  # noqa: E402

NAMESPACE = 'nodewarden'
NAME = 'fleet'

problems = []


def problem(text):
    print('FAIL: ' + text, flush=True)
    problems.append(text)


def module_arguments(module):
    """The keyword arguments a module's main() gives AnsibleModule, without running it."""

    class Captured(Exception):
        pass

    def capture(**kwargs):
        raise Captured(kwargs)

    saved = module.AnsibleModule
    module.AnsibleModule = capture
    try:
        module.main()
    except Captured as e:
        return e.args[0]
    finally:
        module.AnsibleModule = saved
    raise AssertionError('main() made no AnsibleModule')


def compare_arguments(name, arguments, options):
    if sorted(arguments) != sorted(options):
        problem('%s: arguments %s, documented %s' % (name, sorted(arguments), sorted(options)))
        return
    for option, argument in arguments.items():
        doc = options[option]
        for key, default in (('type', 'str'), ('elements', None), ('default', None),
                             ('required', False)):
            if argument.get(key, default) != doc.get(key, default):
                problem('%s: %s has %s %r, documented %r'
                        % (name, option, key, argument.get(key, default), doc.get(key, default)))


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which('ansible-doc') is None:
        print('SKIPPED: ansible-doc is not installed')
        return 77
    source = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix='nw-ansible-sanity-')
    try:
        # A copy, not a link: ansible-test wants the real path inside ansible_collections.
        root = os.path.join(work, 'ansible_collections', NAMESPACE, NAME)
        shutil.copytree(source, root, ignore=shutil.ignore_patterns('__pycache__', 'output'))
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=work,
                   ANSIBLE_LOCAL_TEMP=os.path.join(work, 'tmp'), ANSIBLE_NOCOLOR='1')

        for path in glob.glob(os.path.join(root, '**', '*.py'), recursive=True):
            try:
                py_compile.compile(path, cfile=os.path.join(work, 'compiled.pyc'), doraise=True)
            except py_compile.PyCompileError as e:
                problem(str(e))

        sys.path.insert(0, work)
        modules = sorted(os.path.splitext(os.path.basename(p))[0]
                         for p in glob.glob(os.path.join(root, 'plugins', 'modules', '*.py')))
        if not modules:
            problem('no modules in %s' % source)
        for name in modules:
            before = len(problems)
            full = '%s.%s.%s' % (NAMESPACE, NAME, name)
            run = subprocess.run(['ansible-doc', '--json', full], env=env, capture_output=True,
                                 text=True, timeout=120)
            if run.returncode != 0:
                problem('ansible-doc %s: %s' % (full, run.stderr.strip()))
                continue
            entry = json.loads(run.stdout)[full]
            doc = entry.get('doc') or {}
            for part in ('doc', 'examples', 'return'):
                if not entry.get(part):
                    problem('%s has no %s' % (full, part))
            options = doc.get('options') or {}
            module = importlib.import_module(
                'ansible_collections.%s.%s.plugins.modules.%s' % (NAMESPACE, NAME, name))
            compare_arguments(full, module_arguments(module)['argument_spec'], options)
            for task in yaml.safe_load(entry.get('examples') or '[]') or []:
                arguments = task.get(full)
                if arguments is None:
                    continue
                unknown = sorted(set(arguments or {}) - set(options))
                if unknown:
                    problem('%s example "%s" uses %s' % (full, task.get('name'), unknown))
            if len(problems) == before:
                print('ok: %s' % full, flush=True)

        # The version being built has its entry in the changelog.
        with open(os.path.join(root, 'galaxy.yml')) as f:
            version = str(yaml.safe_load(f)['version'])
        with open(os.path.join(root, 'changelogs', 'changelog.yaml')) as f:
            releases = yaml.safe_load(f).get('releases') or {}
        if version not in releases:
            problem('changelogs/changelog.yaml has no release %s' % version)

        run = subprocess.run([sys.executable, os.path.join(source, 'tests', 'run.py'), '--units'],
                             capture_output=True, text=True, timeout=240)
        print(run.stdout.strip(), flush=True)
        if run.returncode != 0:
            problem('the collection\'s unit tests:\n%s%s' % (run.stdout, run.stderr))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if problems:
        return 1
    print('PASS: %d modules' % len(modules))
    return 0


if __name__ == '__main__':
    sys.exit(main())

"""What the collection's test scripts share."""

import os
import shutil
import sys


def run_under_ansibles_python():
    """Goes on under the Python that Ansible itself runs on (the shebang of ansible-doc), which
    has the ansible and yaml packages, when this one lacks them."""
    try:
        import ansible  # noqa: F401
        import yaml  # noqa: F401
        return
    except ImportError:
        pass
    program = shutil.which('ansible-doc')
    if program is None:
        return
    with open(program, 'rb') as f:
        first = f.readline().decode(errors='replace')
    python = first[2:].strip().split()[0] if first.startswith('#!') else ''
    if python and os.path.realpath(python) != os.path.realpath(sys.executable):
        os.execv(python, [python] + sys.argv)

# -*- coding: utf-8 -*-
# Runs kestrinctl for the modules of this collection: finds the program and
# the Korvane it works on, reads its JSON documents and names its exit
# statuses.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import re

# What each exit status of kestrinctl means (kestrinctl(1), EXIT STATUS).
EXIT_MEANINGS = {
    0: 'success',
    1: 'a step of an installation failed',
    2: 'the command line is wrong',
    3: 'a bundle could not be read, or is not a driver bundle',
    4: 'the version check refused a bundle (a newer version is installed)',
    5: 'items were left alone because another vendor owns them (force overwrites them)',
    6: "a bundle's signature was refused",
    8: 'verify found the installation differing from its bundles',
    9: 'an uninstall or rollback could not put back every item',
    10: 'a rollback was refused: later runs changed the same items',
    11: 'no usable Korvane installation was found',
    12: 'a restart of the computer is needed',
    3010: 'a restart of the computer is needed',
}

# A restart is 3010 on Windows and 12 where exit statuses stop at 255.
RESTART_STATUSES = (12, 3010)

# The options that say which kestrinctl runs and which Korvane it works on,
# with the environment variable each one sets. An option left out leaves the
# variable as the managed host has it.
KORVANE_OPTIONS = dict(
    registry=dict(type='path'),
    program_dir=dict(type='path'),
    data_home=dict(type='path'),
    kestrinctl=dict(type='path'),
)
KORVANE_ENVIRONMENT = dict(
    registry='KESTRIN_REGISTRY',
    program_dir='KESTRIN_PRODUCT_DIR',
    data_home='XDG_DATA_HOME',
)


def meaning(status):
    return EXIT_MEANINGS.get(status, 'an exit status kestrinctl does not document')


def bundle_name(path):
    """The file name of a bundle, whichever separator its path uses."""
    return re.split(r'[\\/]', path)[-1]


def same_bundle(a, b):
    return bundle_name(a).lower() == bundle_name(b).lower()


class Kestrinctl(object):
    """kestrinctl of the managed host, pointed at the Korvane the module's
    options name."""

    def __init__(self, module):
        self.module = module
        program = module.params['kestrinctl']
        self.program = program or module.get_bin_path('kestrinctl', required=True)
        self.environment = dict(
            (variable, module.params[option])
            for option, variable in KORVANE_ENVIRONMENT.items()
            if module.params[option] is not None)

    def run(self, args, accept=(0,), any_status=False, **known):
        """Runs `kestrinctl ARGS --json` and returns its exit status and its
        document. A status not in `accept` (unless `any_status` and there is
        a document, for the caller to judge), or no document, fails the
        module with the return values `known` beside what kestrinctl said."""
        command = [self.program] + list(args) + ['--json']
        status, out, err = self.module.run_command(command, environ_update=self.environment)
        try:
            document = json.loads(out) if out.strip() else None
        except ValueError:
            document = None
        if status not in accept and not (any_status and isinstance(document, dict)):
            self.fail(command[1], status, document, err, known)
        if not isinstance(document, dict):
            self.module.fail_json(msg='kestrinctl %s wrote no JSON document' % command[1],
                                  exit_status=status, stdout=out, stderr=err)
        return status, document

    def fail(self, command, status, document, stderr='', known=None):
        msg = 'kestrinctl %s exited with %d: %s' % (command, status, meaning(status))
        details = []
        document = document if isinstance(document, dict) else {}
        for bundle in document.get('bundles', []):
            if bundle.get('reason'):
                details.append('%s: %s' % (bundle_name(bundle['path']), bundle['reason']))
        details.extend(document.get('not_restored', []))
        if not details and stderr.strip():
            details.append(stderr.strip())
        if details:
            msg += ' (' + '; '.join(details) + ')'
        result = dict(known or {}, msg=msg, exit_status=status, stderr=stderr)
        for key in ('outcome', 'bundles', 'changes', 'not_restored'):
            if key in document:
                result[key] = document[key]
        self.module.fail_json(**result)

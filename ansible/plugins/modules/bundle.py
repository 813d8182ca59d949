#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: bundle
short_description: Installs or removes an OEM driver bundle of a Korvane installation
description:
  - Installs a driver bundle (a cabinet file) into a Korvane installation with C(kestrinctl install),
    or removes what it installed with C(kestrinctl uninstall).
  - C(kestrinctl plan) comes first. When it finds the bundle installed as it is (every file, INI key,
    registry value and connection already as the bundle has it, owned by its vendor), nothing runs
    and the task reports no change, so a playbook run twice changes nothing the second time.
  - Kestrin archives a bundle in the Korvane's OEMCAB folder by its file name and removes it by that
    name, so the copy sent to the managed host keeps the file name of I(src).
version_added: 0.1.0
author: Kestrin developers
options:
  src:
    description:
      - The bundle file. On the controller (searched like the C(copy) module's I(src), in C(files/) too)
        unless I(remote_src) is set, when it is a path on the managed host.
      - With I(state=absent) only its file name counts, compared without regard to case.
    type: str
    required: true
  remote_src:
    description:
      - I(src) is already on the managed host.
    type: bool
    default: false
  state:
    description:
      - C(present) installs the bundle unless it is installed as it is; C(absent) removes what the bundle
        of that file name installed and still owns, and puts back what it replaced.
      - Kestrin reports the connections step as failed when a connection the bundle sets up exists
        already, though it reconfigures it (a new version of a bundle over an older one). When that
        step alone failed, a plan made afterwards decides. If it finds every bundle up to date, each
        connection stands as the bundle sets it up and the task succeeds with a warning (I(exit_status)
        stays 1); otherwise it fails.
    type: str
    choices: [present, absent]
    default: present
  force:
    description:
      - Overwrite items another vendor installed (C(kestrinctl install --force)). Without it such items
        are left alone and the task fails with exit status 5.
    type: bool
    default: false
  recover:
    description:
      - Recover the bundle's templates first (C(--recover)).
    type: bool
    default: false
  bindir:
    description:
      - The folder the bundle's post commands see as C($BinDir) (C(--bindir)).
    type: path
extends_documentation_fragment:
  - kestrin.korvane.korvane
attributes:
  check_mode:
    support: full
    description: With I(state=present) C(kestrinctl plan) runs and nothing else.
  diff_mode:
    support: full
    description: The planned changes as before and after text.
notes:
  - Any exit status of C(kestrinctl) other than 0 and a restart request (12 on Linux, 3010 on Windows)
    fails the task (but for connections that existed, see I(state)); I(msg) says what the status means
    and why each bundle was not installed.
seealso:
  - module: kestrin.korvane.info
'''

EXAMPLES = r'''
- name: Install the FX-200 bundle from the playbook's files/ folder
  kestrin.korvane.bundle:
    src: FNKFX200.CAB
  notify: Restart the workstation

- name: Install a bundle already on the workstation, into a Korvane found by these settings
  kestrin.korvane.bundle:
    src: /srv/bundles/FNKFX200.CAB
    remote_src: true
    registry: /opt/korvane/registry.reg
    program_dir: /opt/korvane/Program
    force: true

- name: Remove what the FX-200 bundle installed
  kestrin.korvane.bundle:
    src: FNKFX200.CAB
    state: absent
'''

RETURN = r'''
exit_status:
  description:
    - The exit status of the last C(kestrinctl) run, C(install), or C(plan) when nothing was installed.
    - The plan of a bundle that is installed already may say 1, since installing it again would fail
      the connections step for the connections that exist; the task does not fail then.
  returned: state is present
  type: int
  sample: 0
outcome:
  description: The name of I(exit_status) (C(ok), C(restart-required), C(owned-items-left), ...).
  returned: state is present
  type: str
  sample: ok
bundles:
  description: What C(kestrinctl install) (or C(plan)) reported of each bundle.
  returned: state is present
  type: list
  elements: dict
  sample: [{path: /tmp/FNKFX200.CAB, status: installed, outcome: ok, reason: "", oem_id: 4711,
            failed_steps: [], items_left: [], restart_required: false, signer: "", up_to_date: false}]
changes:
  description:
    - The changes the plan found, leaving out those that leave their target as it is (C(same)).
    - Empty when every bundle is up to date, though a run would register its libraries and start its
      programs again.
  returned: state is present
  type: list
  elements: dict
  sample: [{kind: file, action: create, target: /opt/korvane/Ini/MODULES/FX200.INI, detail: "",
            bundle: /tmp/FNKFX200.CAB, phase: hardware definitions, same: false}]
up_to_date:
  description: True when the plan found every bundle installed as it is; then nothing ran and I(changes) is empty.
  returned: state is present
  type: bool
  sample: true
restart_required:
  description:
    - True when the installation asks for a restart of the computer (its exit status, or a bundle
      that sets C(REQUIRE_RESTART=1)). A handler can act on it.
  returned: state is present
  type: bool
  sample: false
items:
  description: In check mode, the installation-record items the removal would take away.
  returned: state is absent, in check mode, and the bundle is installed
  type: list
  elements: dict
  sample: [{oem_id: 4711, name: "$MODULES\\FX200.INI", installed: 2026-12-08-10-11,
            bundle: /opt/korvane/Ini/OEMCAB/FNKFX200.CAB}]
undone:
  description: C(kestrinctl uninstall)'s document, the bundle undone and the number of changes.
  returned: state is absent and the bundle was removed
  type: dict
  sample: {undone: FNKFX200.CAB, changes: 52, not_restored: []}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrin.korvane.plugins.module_utils.kestrinctl import (
    KORVANE_OPTIONS, RESTART_STATUSES, Kestrinctl, bundle_name, same_bundle)

# How a change reads before and after it, by action; None leaves the line out.
DIFF_STATES = {
    'create': (None, 'created'),
    'replace': ('present', 'replaced'),
    'delete': ('present', None),
    'delete-key': ('present', None),
    'delete-section': ('present', None),
    'register': (None, 'registered'),
    'unregister': ('registered', None),
}


def diff_text(changes):
    """The changes as the text of a Korvane before and after them."""
    before, after = [], []
    for change in changes:
        what = '%s %s' % (change['kind'], change['target'])
        if change['action'] in DIFF_STATES:
            old, new = DIFF_STATES[change['action']]
            if change['detail']:
                what += ' ' + change['detail'] if change['kind'] == 'ini' else ' (%s)' % change['detail']
            if old:
                before.append('%s: %s\n' % (what, old))
            if new:
                after.append('%s: %s\n' % (what, new))
        else:
            # set, run: the new value only
            after.append(('%s: %s %s' % (what, change['action'], change['detail'])).rstrip() + '\n')
    return dict(before_header='Korvane', after_header='Korvane after the bundle',
                before=''.join(before), after=''.join(after))


def only_connections_failed(status, document):
    failed = [b for b in document['bundles'] if b.get('failed_steps')]
    return status == 1 and failed and all(b['failed_steps'] == ['connections'] for b in failed)


def connections_stand(ctl, options, status, run):
    """Whether an installation that failed only in the connections step left
    every bundle as it wants to be. Kestrin counts a connection that exists
    already as a failure of that step, though it reconfigures it; the plan
    made afterwards compares each connection's settings with the bundle's."""
    if not only_connections_failed(status, run):
        return False
    _, after = ctl.run(['plan'] + options, any_status=True)
    if not all(b.get('up_to_date', False) for b in after['bundles']):
        return False
    ctl.module.warn('the connections step reported connections that exist already; '
                    'they are set up as the bundle says')
    return True


def present(module, ctl):
    p = module.params
    options = []
    for flag in ('force', 'recover'):
        if p[flag]:
            options.append('--' + flag)
    if p['bindir']:
        options += ['--bindir', p['bindir']]
    options.append(p['src'])
    accept = (0,) + RESTART_STATUSES
    # A bundle installed already is up to date even where a second run would
    # fail: the connections step objects to connections that exist.
    status, plan = ctl.run(['plan'] + options, any_status=True)
    bundles = plan['bundles']
    changes = [c for c in plan.get('changes', []) if not c.get('same', False)]
    result = dict(exit_status=status, outcome=plan['outcome'], bundles=bundles, changes=changes)
    if bundles and all(b.get('up_to_date', False) for b in bundles):
        # Nothing runs: the registrations and programs a run repeats do not.
        result.update(changes=[], up_to_date=True)
        module.exit_json(changed=False, restart_required=False, **result)
    result['up_to_date'] = False
    if status not in accept and not only_connections_failed(status, plan):
        ctl.fail('plan', status, plan, known=dict(changes=changes))
    if any('up_to_date' not in b for b in bundles):
        module.warn('this kestrinctl does not say whether a bundle is installed already: '
                    'the bundle is installed again')
    if module._diff:
        result['diff'] = diff_text(changes)
    if not module.check_mode:
        status, run = ctl.run(['install'] + options, accept, any_status=True, changes=changes)
        if status not in accept and not connections_stand(ctl, options, status, run):
            ctl.fail('install', status, run, known=dict(changes=changes))
        result.update(exit_status=status, outcome=run['outcome'], bundles=run['bundles'])
    restart = result['exit_status'] in RESTART_STATUSES or any(
        b.get('restart_required', False) for b in result['bundles'])
    module.exit_json(changed=True, restart_required=restart, **result)


def absent(module, ctl):
    name = bundle_name(module.params['src'])
    _, history = ctl.run(['history'])
    standing = [b for run in history.get('runs', []) for b in run.get('bundles', [])
                if b.get('stands') and same_bundle(b['path'], name)]
    if not standing:
        module.exit_json(changed=False)
    if module.check_mode:
        _, listing = ctl.run(['list'])
        items = [dict(item, oem_id=vendor['oem_id'])
                 for vendor in listing.get('vendors', []) for item in vendor['items']
                 if item.get('bundle') and same_bundle(item['bundle'], name)]
        module.exit_json(changed=True, items=items)
    _, undone = ctl.run(['uninstall', name])
    module.exit_json(changed=True, undone=undone)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            src=dict(type='str', required=True),
            remote_src=dict(type='bool', default=False),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
            force=dict(type='bool', default=False),
            recover=dict(type='bool', default=False),
            bindir=dict(type='path'),
            **KORVANE_OPTIONS
        ),
        supports_check_mode=True,
    )
    ctl = Kestrinctl(module)
    if module.params['state'] == 'present':
        present(module, ctl)
    else:
        absent(module, ctl)


if __name__ == '__main__':
    main()

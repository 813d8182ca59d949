#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: Tells which driver bundles a Korvane installation holds, and whether they still hold
description:
  - The items of the installation record per vendor and the bundles archived in OEMCAB, from
    C(kestrinctl list).
  - Drift from C(kestrinctl verify) - installed files missing or changed, items another vendor owns
    now, modules gone from MODULES.INI, registry values that no longer hold. Drift is an answer, not
    a failure.
  - Changes nothing.
version_added: 0.1.0
author: Kestrin developers
options:
  oem:
    description:
      - Only this vendor's items and bundles (C(--oem)).
    type: int
extends_documentation_fragment:
  - kestrin.korvane.korvane
attributes:
  check_mode:
    support: full
    description: Runs as without check mode; it changes nothing either way.
seealso:
  - module: kestrin.korvane.bundle
'''

EXAMPLES = r'''
- name: Ask each workstation what it holds
  kestrin.korvane.info:
  register: korvane

- name: Name the workstations whose drivers drifted from their bundles
  ansible.builtin.debug:
    msg: "{{ korvane.findings | map(attribute='item') | list }}"
  when: korvane.drift
'''

RETURN = r'''
vendors:
  description: The items of the installation record by the vendor (OEM ID) that installed each last.
  returned: always
  type: list
  elements: dict
  sample: [{oem_id: 4711, items: [{name: "$MODULES\\FX200.INI", installed: 2026-12-08-10-11,
                                   bundle: /opt/korvane/Ini/OEMCAB/FNKFX200.CAB}]}]
bundles:
  description: The bundles archived in OEMCAB, with vendor, version, description and signer.
  returned: always
  type: list
  elements: dict
  sample: [{path: /opt/korvane/Ini/OEMCAB/FNKFX200.CAB, readable: true, error: "", oem_id: 4711,
            oem_name: Fennick Automation GmbH, description: Fennick FX-200 remote I/O couplers,
            version: 2.3.1, minimum_version: "6.1", signer: ""}]
drift:
  description: True when verify found the installation differing from its bundles.
  returned: always
  type: bool
  sample: false
findings:
  description: What verify found, C(kind) (missing, changed, owned, module-gone, registry-reset, unverifiable),
    C(item), C(path) and C(detail). Items no archived bundle holds (C(unverifiable)) are not drift.
  returned: always
  type: list
  elements: dict
  sample: [{kind: missing, item: "$MODULES\\FX200.INI", path: /opt/korvane/Ini/MODULES/FX200.INI, detail: ""}]
signed:
  description: Per archived bundle whether it is signed, and by whom (verify's C(bundles)).
  returned: always
  type: list
  elements: dict
  sample: [{path: /opt/korvane/Ini/OEMCAB/FNKFX200.CAB, signed: false, signer: ""}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrin.korvane.plugins.module_utils.kestrinctl import KORVANE_OPTIONS, Kestrinctl

DRIFT = 8


def main():
    module = AnsibleModule(
        argument_spec=dict(oem=dict(type='int'), **KORVANE_OPTIONS),
        supports_check_mode=True,
    )
    ctl = Kestrinctl(module)
    oem = ['--oem', str(module.params['oem'])] if module.params['oem'] is not None else []
    _, listing = ctl.run(['list'] + oem)
    status, verify = ctl.run(['verify'] + oem, accept=(0, DRIFT))
    module.exit_json(changed=False, vendors=listing['vendors'], bundles=listing['bundles'],
                     drift=status == DRIFT, findings=verify['findings'], signed=verify['bundles'])


if __name__ == '__main__':
    main()

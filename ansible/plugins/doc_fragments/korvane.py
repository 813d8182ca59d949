# -*- coding: utf-8 -*-
# The options every module of this collection shares: which kestrinctl runs
# and which Korvane installation it works on.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  registry:
    description:
      - The registry store of the Korvane installation (C(KESTRIN_REGISTRY)).
      - Left out, the managed host's environment decides.
    type: path
  program_dir:
    description:
      - The program folder of the Korvane installation (C(KESTRIN_PRODUCT_DIR)).
      - Left out, the managed host's environment decides.
    type: path
  data_home:
    description:
      - The per-user data folder (C(XDG_DATA_HOME)) that holds Kestrin's temporary folder.
      - Left out, the managed host's environment decides.
    type: path
  kestrinctl:
    description:
      - The path of the C(kestrinctl) program on the managed host.
      - Left out, C(kestrinctl) is looked up on the C(PATH).
    type: path
notes:
  - C(KESTRIN_REGISTRY), C(KESTRIN_PRODUCT_DIR) and C(XDG_DATA_HOME) exist on Linux only. On Windows
    Kestrin finds Korvane in the system registry and these options have no meaning; the modules of
    this collection are written in Python and run on Linux managed hosts.
requirements:
  - kestrinctl on the managed host (the kestrin package).
'''

# -*- coding: utf-8 -*-
# Sends a bundle from the controller to the managed host before the bundle
# module runs there. The copy keeps the bundle's file name: Kestrin archives
# bundles in OEMCAB by that name and uninstalls them by it.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os

from ansible.errors import AnsibleError
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):

    TRANSFERS_FILES = True

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        args = dict(self._task.args)
        src = args.get('src')
        remote_src = boolean(args.get('remote_src', False), strict=False)
        # Removal needs the file name only: nothing to send.
        if not src or remote_src or args.get('state', 'present') == 'absent':
            args['remote_src'] = True
            result.update(self._execute_module(module_args=args, task_vars=task_vars))
            return result
        try:
            local = self._find_needle('files', src)
        except AnsibleError as e:
            result.update(failed=True, msg='bundle %s not found on the controller: %s' % (src, e))
            return result
        try:
            if self._connection._shell.tmpdir is None:
                self._make_tmp_path()
            tmpdir = self._connection._shell.tmpdir
            remote = self._connection._shell.join_path(tmpdir, os.path.basename(local))
            self._transfer_file(local, remote)
            self._fixup_perms2((tmpdir, remote))
            args.update(src=remote, remote_src=True)
            result.update(self._execute_module(module_args=args, task_vars=task_vars))
        finally:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        return result

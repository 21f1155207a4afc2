"""Install actions of a packaged setup as a user meets them: a file copied
into a folder the client does not have yet arrives there, and a step that
fails stops its component and the rest of the install, the run keeping its
files for the next start even though an earlier setup reported success;
a registry section that cannot be imported is such a step. A setup that
tells its result by its exit code (resultFrom=exitcode) finishes the run
without the state file, asks for a restart with 3010, and fails it with
anything else."""
import os
import shutil
import unittest
import zipfile

import cvtest
import runs

PLANTED = os.path.join(cvtest.BIN_DIR, '..', 'planted', 'cvgetex.dll')


def write(directory, name, data):
    path = os.path.join(directory, name)
    with open(path, 'wb') as f:
        f.write(data)
    return path


class InstallActions(runs.RunTestCase):
    def test_copy_makes_the_folders_of_its_target(self):
        readme = write(self.work, 'readme.txt', b'read me\r\n')
        inf = ('[defs]\ncomponents=docs\n'
               '[docs]\nname=Documents\nfiles=docs\\readme.txt\n'
               'install1=copy,docs\\readme.txt\n')
        program = cvtest.start(exe=runs.package(self.work, inf,
                                                extra_files={'docs/readme.txt': readme}))
        program.wait(60)
        with open(os.path.join(self.client, 'docs', 'readme.txt'), 'rb') as f:
            self.assertEqual(b'read me\r\n', f.read())
        # A local run that installed everything is over: its folder is gone.
        self.assertIsNone(runs.download_folder())

    def test_a_failed_step_stops_the_install_and_keeps_the_files(self):
        broken = write(self.work, 'maps.cab', b'not an archive\r\n')
        later = write(self.work, 'later.txt', b'later\r\n')
        inf = ('[defs]\ncomponents=first,maps,later\n'
               '[first]\nname=Client setup\nfiles=cvclientsetup.exe\nInstallOrder=5\n'
               'install1=run,cvclientsetup.exe,-success\n'
               '[maps]\nname=Maps\nfiles=maps.cab\nInstallOrder=10\n'
               'extract1=package,maps.cab\ninstall1=copy,maps.cab\n'
               '[later]\nname=Later\nfiles=later.txt\nInstallOrder=20\n'
               'install1=copy,later.txt\n')
        program = cvtest.start(exe=runs.package(self.work, inf, extra_files={
            'maps.cab': broken, 'later.txt': later}))
        program.wait(60)
        # The client's setup ran and reported success ...
        self.assertEqual('1', runs.state_values().get('result.success'))
        # ... but the archive did not unpack: neither that component's copy
        # nor the next component was installed.
        self.assertFalse(os.path.exists(os.path.join(self.client, 'maps.cab')))
        self.assertFalse(os.path.exists(os.path.join(self.client, 'later.txt')))
        # The run kept its files for the next start, which installs again.
        folder = runs.download_folder()
        self.assertTrue(folder and os.path.exists(os.path.join(folder, 'maps.cab')), folder)
        self.assertEqual('1', runs.state_values().get('download.complete'))

    def test_a_registry_import_that_fails_stops_the_install(self):
        later = write(self.work, 'later.txt', b'later\r\n')
        # The second line names no root the program knows: the import stops
        # there, and the component's copy after it does not run.
        inf = ('[defs]\ncomponents=values\n'
               '[values]\nname=Values\nfiles=later.txt\nInstallOrder=5\n'
               'registry1=Imported\ninstall1=copy,later.txt\n'
               '[Imported]\nHKCU,Software\\Corvane\\E2eImport,first=s,1\n'
               'HKXX,Software\\Corvane\\E2eImport,second=s,2\n')
        program = cvtest.start(exe=runs.package(self.work, inf, extra_files={'later.txt': later}))
        self.assertEqual(3, program.wait(60))  # failed, files kept
        self.assertFalse(os.path.exists(os.path.join(self.client, 'later.txt')))
        self.assertIsNone(cvtest.reg_query(r'HKEY_CURRENT_USER\Software\Corvane\E2eImport', 'second'))
        folder = runs.download_folder()
        self.assertTrue(folder and os.path.exists(os.path.join(folder, 'later.txt')), folder)
        self.assertEqual('1', runs.state_values().get('download.complete'))

    def test_the_extraction_library_comes_only_from_the_package(self):
        archive = os.path.join(self.work, 'maps.zip')
        with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED) as z:
            z.writestr('maps/level1.map', b'map one\r\n')
        inf = ('[defs]\ncomponents=maps\n'
               '[maps]\nname=Maps\nfiles=maps.zip\nextract1=package,maps.zip,4\n')
        # A stranger's library waits beside the program, as a web site may
        # leave one in the user's downloads.
        marker = os.path.join(self.work, 'cvgetex.dll.loaded')
        shutil.copy(PLANTED, os.path.join(self.work, 'cvgetex.dll'))

        # The package brings the real one: that one unpacks.
        real = os.path.join(cvtest.BIN_DIR, 'cvgetex.dll')
        program = cvtest.start(exe=runs.package(self.work, inf, extra_files={
            'maps.zip': archive, 'cvgetex.dll': real}), cwd=self.work)
        self.assertEqual(0, program.wait(60))
        with open(os.path.join(os.path.dirname(self.client), 'maps', 'level1.map'), 'rb') as f:
            self.assertEqual(b'map one\r\n', f.read())
        self.assertFalse(os.path.exists(marker))

        # Without it the step fails; the stranger's is not taken instead.
        program = cvtest.start(exe=runs.package(self.work, inf, extra_files={'maps.zip': archive}),
                               cwd=self.work)
        self.assertEqual(3, program.wait(60))
        self.assertFalse(os.path.exists(marker))

    def test_ispackage_unpacks_into_a_folder_of_its_own(self):
        archive = os.path.join(self.work, 'client.zip')
        with zipfile.ZipFile(archive, 'w', zipfile.ZIP_DEFLATED) as z:
            z.write(runs.CLIENT_SETUP, 'setup.exe')
        inf = ('[defs]\ncomponents=client\n'
               '[client]\nname=Client\nfiles=client.zip\ninstall1=ispackage,client.zip,-success\n')
        program = cvtest.start(exe=runs.package(self.work, inf, extra_files={
            'client.zip': archive, 'cvgetex.dll': os.path.join(cvtest.BIN_DIR, 'cvgetex.dll')}))
        self.assertEqual(0, program.wait(60))
        # Its setup ran from there and reported success.
        self.assertEqual('1', runs.state_values().get('result.success'))
        temp = cvtest.temp_dir()
        folders = [n for n in os.listdir(temp) if n.startswith('INS') and n.endswith('.tmp')]
        self.assertEqual(1, len(folders), folders)
        self.assertEqual(15, len(folders[0]))
        self.assertTrue(os.path.exists(os.path.join(temp, folders[0], 'setup.exe')))
        self.assertOwnFolder(os.path.join(temp, folders[0]))

    def test_exit_codes_tell_the_result_when_the_component_says_so(self):
        site = self.site(2 * runs.PART_SIZE, seed=41)
        for code, exit_code, said in ((0, 0, 'success'), (3010, 0, 'success, a restart is needed'),
                                      (1, 3, 'a failure')):
            cvtest.reset()
            inf = ('[defs]\ncomponents=setup,data\nallowintervention=FALSE\n'
                   '[setup]\nname=Client setup\nfiles=cvclientsetup.exe\nDisplayOrder=1\nInstallOrder=50\n'
                   'resultFrom=exitcode\ninstall1=run,cvclientsetup.exe,-exit %d\n' % code +
                   runs.http_section('data', site, display=2, install_order=10))
            log = os.path.join(self.work, 'run-%d.log' % code)
            program = cvtest.start('-log', cvtest.to_win(log), exe=runs.package(self.work, inf))
            self.assertEqual(exit_code, program.wait(60), code)
            with open(log, 'rb') as f:
                text = f.read().decode('latin-1')
            self.assertIn('the program ended with exit code %d' % code, text)
            self.assertIn('exit code %d of setup: %s' % (code, said), text)
            self.assertEqual(code == 3010, 'a restart of Windows is needed' in text, code)
            if exit_code == 0:
                # Nothing wrote [result] success=1: the exit code finished it.
                self.assertInstalled(site)
                self.assertCleanedUp()
            else:
                folder = runs.download_folder()
                self.assertTrue(os.path.exists(os.path.join(folder, site.name)), folder)
                self.assertEqual('0', runs.state_values().get('result.success'))


if __name__ == '__main__':
    unittest.main()

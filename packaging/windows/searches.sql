-- The file searches of kestrin.wxs that wixl cannot write (it has no
-- DirectorySearch or FileSearch): scripts/package runs these queries with
-- msibuild on the package wixl made, one query a line.
--
-- KESTRIN_TESSEL32_GIVEN: tessel32.dll in the folder KORVANEPROGRAMDIR names.
-- KESTRIN_TESSEL32_SAVED: tessel32.dll in the folder an earlier installation
-- recorded (an upgrade that names no folder).
CREATE TABLE `DrLocator` (`Signature_` CHAR(72) NOT NULL, `Parent` CHAR(72), `Path` CHAR(255), `Depth` SHORT PRIMARY KEY `Signature_`, `Parent`, `Path`)
INSERT INTO `DrLocator` (`Signature_`, `Path`, `Depth`) VALUES ('GivenProgramDir', '[KORVANEPROGRAMDIR]', 0)
INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Name`, `Type`) VALUES ('SavedProgramDirPath', 2, 'SOFTWARE\Kestrin', 'ProgramDir', 0)
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('Tessel32InGivenDir', 'tessel32.dll')
INSERT INTO `DrLocator` (`Signature_`, `Parent`, `Depth`) VALUES ('Tessel32InGivenDir', 'GivenProgramDir', 0)
INSERT INTO `Signature` (`Signature`, `FileName`) VALUES ('Tessel32InSavedDir', 'tessel32.dll')
INSERT INTO `DrLocator` (`Signature_`, `Parent`, `Depth`) VALUES ('Tessel32InSavedDir', 'SavedProgramDirPath', 0)
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('KESTRIN_TESSEL32_GIVEN', 'Tessel32InGivenDir')
INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('KESTRIN_TESSEL32_SAVED', 'Tessel32InSavedDir')

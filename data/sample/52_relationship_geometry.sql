-- Relationship geometry interfaces of the ownership relationships 1 (a main
-- owns, seen from the main: QTX_OWNERINTERFACE and its columns) and 2 (a
-- device owned by a main, seen from the device: QTX_INTERFACE and its
-- columns). Only the columns the interfaces need are written here; the other
-- columns of the rows belong to the ownership rules.
--
-- From the main: Pelmora.MainGeometry (a ProgID) on the valve and the
-- hydrant rows, which loads once and runs with the valve row's numbers, and
-- MainAudit in VBA project 1 on the service line row.
-- From the device: the valve has a name with ":", the hydrant a ProgID, the
-- service line none (Null). The interfaces are the sample's own objects
-- (examples/sample_extensions), which a process registers.
INSERT INTO QTX_OWNERSHIPRULES_OPTABLE (QTX_SOURCEFNO, QTX_OWNERFNO, QTX_TRIGGERINGCNO, QTX_OWNERTRIGGERINGCNO, QTX_INTERFACE, QTX_PRJNO, QTX_RIARGGROUPNO, QTX_OWNERINTERFACE, QTX_OWNERPRJNO, QTX_OWNERRIARGGROUPNO) VALUES
  (102, 101, 22, 12, 'Pelmora:ValveClearance', NULL, 3, 'Pelmora.MainGeometry', NULL, NULL),
  (103, 101, 32, 12, 'Pelmora.HydrantGeometry', NULL, NULL, 'Pelmora.MainGeometry', NULL, 3),
  (104, 101, 42, 12, NULL, 1, 3, 'MainAudit', 1, 3);

-- The arguments of the interfaces above: a clearance, its unit and a Null.
INSERT INTO QTX_RELATIONIFACEARGS_OPTABLE (QTX_RIARGGROUPNO, QTX_ORDINAL, QTX_VALUE) VALUES
  (3, 1, '1.5'),
  (3, 2, 'm'),
  (3, 3, NULL);

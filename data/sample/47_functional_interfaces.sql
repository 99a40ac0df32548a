-- More functional interfaces, and the attribute values the product's
-- attribute-loading service copies into new rows (docs/LOAD_ATTRIBUTES.md).

-- The lining of a water main (component 14): its rows belong to feature
-- class 101, so a new row takes that number by default, and with it the
-- values QTX_LOADATTRIBUTES gives the class. LINING_TYPE carries two SetValue
-- interfaces (its first row describes the field); LINING_YEAR an Edit
-- interface held in VBA project 1 and an AddNew interface; THICKNESS_MM an
-- Update interface. The valve symbol (22) has a geometry and SetValue
-- interfaces on its rotation and on its geometry (QTX_GEOMETRY, no column).
INSERT INTO QTX_ATTRIBUTEINFOFI_OPTABLE (QTX_CNO, QTX_ANO, QTX_FIELD, QTX_FUNCTIONALTYPE, QTX_INTERFACE, QTX_PRJNO, QTX_INTERFACEARGUMENT, DATA_DEFAULT, QTX_RELATIONIFACEPROGID, QTX_RELATIONIFACETYPE, QTX_RIARGGROUPNO, QTX_RELATIONIFACEPRJNO, QTX_ROLE) VALUES
  (14, 1400, 'QTX_FNO', NULL, NULL, NULL, NULL, '101', NULL, NULL, NULL, NULL, NULL),
  (14, 1401, 'LINING_TYPE', 'SetValue', 'Pelmora.LiningTypeCheck', NULL, NULL, 'CEMENT', NULL, NULL, NULL, NULL, NULL),
  (14, 1402, 'LINING_YEAR', 'Edit', 'LiningAudit', 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (14, 1403, 'THICKNESS_MM', 'Update', 'Pelmora.LiningThickness', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (14, 1404, 'LINING_YEAR', 'AddNew', 'Pelmora.LiningYear', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (14, 1405, 'LINING_TYPE', 'SetValue', 'Pelmora.LiningTypeNotice', NULL, NULL, 'EPOXY', NULL, NULL, NULL, NULL, NULL),
  (22, 2201, 'SYMBOL_ROTATION', 'SetValue', 'Pelmora.SymbolRotation', NULL, NULL, '0', NULL, NULL, NULL, NULL, NULL),
  (22, 2202, 'QTX_GEOMETRY', 'SetValue', 'Pelmora.SymbolMoved', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

-- Attribute values of new rows, by feature class and component; a Null
-- classification serves every row of the class, the others only rows of a
-- feature whose classification value (for mains: MATERIAL) has that text.
CREATE TABLE QTX_LOADATTRIBUTES (
  QTX_FNO            NUMBER(5) NOT NULL,
  QTX_CNO            NUMBER(5) NOT NULL,
  QTX_CLASSIFICATION VARCHAR2(40),
  QTX_FIELD          VARCHAR2(30) NOT NULL,
  QTX_VALUE          VARCHAR2(255)
);
INSERT INTO QTX_LOADATTRIBUTES (QTX_FNO, QTX_CNO, QTX_CLASSIFICATION, QTX_FIELD, QTX_VALUE) VALUES
  (101, 14, NULL, 'THICKNESS_MM', '3'),
  (101, 14, 'DI', 'LINING_TYPE', 'CEMENT'),
  (101, 14, 'DI', 'THICKNESS_MM', '4.5'),
  (101, 14, 'PVC', 'LINING_TYPE', 'NONE'),
  (101, 14, 'PVC', 'THICKNESS_MM', '0');

-- Feature validation: the picklist table, two domain tables (one published,
-- so cached as metadata, one left in the database), a key table for the
-- pressure zone of mains, the attribute rows that use them, functional
-- validation interfaces on hydrant attributes, and features that each break
-- one check. FIDs 5951-5961 lie above the earlier features and below those
-- QTX_FID_SEQ hands out; they are mains and hydrants only, so the tables
-- that tests count whole (valves, linings, inspections) keep their rows.
--
-- Attribute rows (QTX_ATTRIBUTEINFO_OPTABLE):
--   1101 MATERIAL (required): domain MAIN_MATERIALS, not published: looked
--        up in the database;
--   1105 ZONE_ID: now required; key table PRESSURE_ZONES; it also names the
--        materials as its domain, which the key table overrides;
--   2101 VALVE_TYPE (required): domain VALVE_TYPES, published: the cached
--        table is filtered ("O'RING SEAT" has a quote);
--   3301 INSPECTION_DATE (required, a date): domain INSPECTION_ROUNDS,
--        published: the cached table is filtered with a date;
--   hydrant attributes, functional validation of the three kinds: 3102
--        OUTLET_COUNT by ProgID (Pelmora.OutletCheck, with the arguments 1 and 4),
--        3104 COLOR_CODE by a name with ":" (Pelmora:ColourCheck), 3101
--        HYDRANT_TYPE from VBA project 1 (HydrantTypeCheck), the sample's
--        own objects (examples/sample_extensions), which a process registers.
--
-- Findings planted (feature: message ids):
--   5951 hydrant: 25086 (no symbol)
--   5952 main: 25084 (two main attribute rows)
--   5953 main: 25086 (no line) and 25089 (neither line nor label)
--   5954 main: no record at all (no rows carry this FID): left out
--   5955 main: 25077 (zone 9 is no pressure zone)
--   5957 main: 25078 (material AC is not a main material)
--   5958 main: 25078 (material D'IRON, with a quote, is none either)
--   5960 main: 25088 (no zone; the key table is not asked)
--   5961 hydrant: none of its own; the three hydrant interfaces validate it
-- Earlier features that now break a check: mains 1003 and 5203 have no
-- zone (25088).

CREATE TABLE QTX_PICKLIST_OPTABLE (
  QTX_TABLE   VARCHAR2(30) NOT NULL PRIMARY KEY,
  QTX_PUBLISH NUMBER(1) DEFAULT 0
);
INSERT INTO QTX_PICKLIST_OPTABLE (QTX_TABLE, QTX_PUBLISH) VALUES
  ('VALVE_TYPES', 1),
  ('INSPECTION_ROUNDS', 1),
  ('MAIN_MATERIALS', 0);

CREATE TABLE VALVE_TYPES (
  TYPE_CODE   VARCHAR2(20) NOT NULL PRIMARY KEY,
  DESCRIPTION VARCHAR2(80)
);
INSERT INTO VALVE_TYPES (TYPE_CODE, DESCRIPTION) VALUES
  ('BUTTERFLY', 'Butterfly valve'),
  ('CHECK', 'Non-return valve'),
  ('GATE', 'Gate valve'),
  ('O''RING SEAT', 'Gate valve with an O-ring seat');

CREATE TABLE MAIN_MATERIALS (
  MATERIAL_CODE VARCHAR2(20) NOT NULL PRIMARY KEY,
  DESCRIPTION   VARCHAR2(80)
);
INSERT INTO MAIN_MATERIALS (MATERIAL_CODE, DESCRIPTION) VALUES
  ('CI', 'Cast iron'),
  ('DI', 'Ductile iron'),
  ('PE', 'Polyethylene'),
  ('PVC', 'Polyvinyl chloride'),
  ('ST', 'Steel');

CREATE TABLE INSPECTION_ROUNDS (
  ROUND_DATE DATE NOT NULL PRIMARY KEY,
  ROUND_NAME VARCHAR2(40)
);
INSERT INTO INSPECTION_ROUNDS (ROUND_DATE, ROUND_NAME) VALUES
  ('2019-05-14 09:30:00', 'Spring 2019'),
  ('2023-05-09 14:05:00', 'Spring 2023'),
  ('2024-05-06 10:00:00', 'Spring 2024');

CREATE TABLE PRESSURE_ZONES (
  ZONE_ID   NUMBER(5) NOT NULL PRIMARY KEY,
  ZONE_NAME VARCHAR2(40)
);
INSERT INTO PRESSURE_ZONES (ZONE_ID, ZONE_NAME) VALUES
  (1, 'Low town'),
  (3, 'Harbour'),
  (5, 'East high zone');

UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_DOMAINTABLE = 'MAIN_MATERIALS', QTX_DOMAINFIELD = 'MATERIAL_CODE'
 WHERE QTX_ANO = 1101;
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_REQUIRED = 1, QTX_FOREIGNKEYTABLE = 'PRESSURE_ZONES', QTX_FOREIGNKEYFIELD = 'ZONE_ID',
       QTX_DOMAINTABLE = 'MAIN_MATERIALS', QTX_DOMAINFIELD = 'MATERIAL_CODE'
 WHERE QTX_ANO = 1105;
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_DOMAINTABLE = 'VALVE_TYPES', QTX_DOMAINFIELD = 'TYPE_CODE'
 WHERE QTX_ANO = 2101;
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_DOMAINTABLE = 'INSPECTION_ROUNDS', QTX_DOMAINFIELD = 'ROUND_DATE'
 WHERE QTX_ANO = 3301;
-- The ProgID's arguments: at least 1 and at most 4 outlets, bounds 1 to 2.
-- The ProgID's arguments: at least 1 and at most 4 outlets, bounds 1 to 2.
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_INTERFACE = 'Pelmora.OutletCheck', QTX_FUNCTIONALVALIDATION = 1, QTX_FUNCTIONALTYPE = 'Validate',
       QTX_INTERFACEARGUMENT = X'5158494101010000000200000003010000000304000000'
 WHERE QTX_ANO = 3102;
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_INTERFACE = 'Pelmora:ColourCheck', QTX_FUNCTIONALVALIDATION = 1, QTX_FUNCTIONALTYPE = 'Validate'
 WHERE QTX_ANO = 3104;
UPDATE QTX_ATTRIBUTEINFO_OPTABLE
   SET QTX_INTERFACE = 'HydrantTypeCheck', QTX_FUNCTIONALVALIDATION = 1, QTX_FUNCTIONALTYPE = 'Validate',
       QTX_PRJNO = 1
 WHERE QTX_ANO = 3101;

INSERT INTO QTX_COMMON_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, FEATURE_STATE, INSTALL_DATE, WORK_ORDER, LOCATION, OWNER) VALUES
  (16, 103, 5951, 1, 1, 'INS', '2024-03-04 00:00:00', 'WO-2024-031', 'Quay St 2', 'FIRE DEPT'),
  (17, 101, 5952, 1, 1, 'INS', '2024-03-04 00:00:00', 'WO-2024-031', 'Quay St', 'CITY'),
  (18, 101, 5953, 1, 1, 'PPI', NULL, 'WO-2024-032', 'Quay St', 'CITY'),
  (19, 101, 5955, 1, 1, 'INS', '2024-04-11 00:00:00', 'WO-2024-040', 'Dock Lane', 'CITY'),
  (20, 101, 5957, 1, 1, 'INS', '1971-08-20 00:00:00', NULL, 'Old Mill Road', 'CITY'),
  (21, 101, 5958, 1, 1, 'INS', '1988-02-11 00:00:00', 'WO-''88-002', 'O''Connell Yard', 'CITY'),
  (22, 101, 5960, 1, 1, 'PPI', NULL, NULL, 'Dock Lane', 'CITY'),
  (23, 103, 5961, 1, 1, 'INS', '2024-07-01 00:00:00', 'WO-2024-070', 'Harbour Road 12', 'FIRE DEPT');

INSERT INTO WATER_MAIN_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, PRESSURE_CLASS, LENGTH_M, ZONE_ID) VALUES
  (7, 101, 5952, 11, 1, 'DI', 150, 16, 40, 3),
  (8, 101, 5952, 11, 2, 'PE', 110, 10, 40, 3),
  (9, 101, 5953, 11, 1, 'DI', 150, 16, 40, 3),
  (10, 101, 5955, 11, 1, 'PE', 110, 10, 52.5, 9),
  (11, 101, 5957, 11, 1, 'AC', 100, 10, 88, 1),
  (12, 101, 5958, 11, 1, 'D''IRON', 100, 10, 31, 1),
  (13, 101, 5960, 11, 1, 'PVC', 110, 10, 20, NULL);

INSERT INTO WATER_MAIN_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, LINE_STYLE) VALUES
  (7, 101, 5952, 12, 1, 1),
  (8, 101, 5955, 12, 1, 1),
  (9, 101, 5957, 12, 1, 1),
  (10, 101, 5958, 12, 1, 1),
  (11, 101, 5960, 12, 1, 2);

INSERT INTO HYDRANT_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, HYDRANT_TYPE, OUTLET_COUNT, FLOW_RATE, COLOR_CODE) VALUES
  (3, 103, 5951, 31, 1, 'PILLAR', 2, 980, 'RED'),
  (4, 103, 5961, 31, 1, 'PILLAR', 3, 1100, 'RED');

INSERT INTO HYDRANT_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES
  (3, 103, 5961, 32, 1);

INSERT INTO QTX_METADATAKEYS_OPTABLE (QTX_OPTIMIZEDTABLENAME, QTX_SQL, QTX_LCID) VALUES
  ('QTX_PICKLIST_OPTABLE', 'SELECT * FROM QTX_PICKLIST_OPTABLE ORDER BY QTX_TABLE', NULL),
  ('VALVE_TYPES', 'SELECT * FROM VALVE_TYPES ORDER BY TYPE_CODE', NULL),
  ('INSPECTION_ROUNDS', 'SELECT * FROM INSPECTION_ROUNDS ORDER BY ROUND_DATE', NULL);

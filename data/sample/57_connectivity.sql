-- Connectivity: node-edge connectivity (relationship 3) through node columns
-- of the common component QTX_COMMON_N (CNO 1, the support component of every
-- class), and node-ordered connectivity (relationship 5) through end columns
-- of the service line's SERVICE_N (CNO 41). The earlier features keep Null
-- nodes and end columns; the features below take FIDs 5701-5734 and the
-- QTX_IDs after those of 55_geometry_checks.sql and 80_feature_validation.sql (sequences.sql starts above them).
--
-- Node-edge rules: mains (101) have two nodes, valves (102) and hydrants
-- (103) one, all with enforcement 5, so that the earlier features of these
-- classes, which have no nodes, validate without findings; service lines
-- (104) have three, enforcement 1. Pipeline connectivity is on,
-- the endpoint priority is "Endpoint".
--
--   main 5701 (2000 6000)-(2100 6000), nodes 57001 57002, phases ABC: valve
--     5711 (AB) at its start holds 57001, hydrant 5721 (C) at its end 57002;
--     every check passes.
--   main 5702 (2200 6000)-(2300 6000), nodes 57011 57012, phases ABN: valve
--     5712 at its end holds 57011 and hydrant 5722 at its start 57012, both
--     with phase A: two endpoint findings and a phase finding.
--   main 5703 (2400 6000)-(2500 6000), nodes 57021 and none: a gap (15730,
--     a warning even under enforcement 5).
--   main 5704 (2600 6000)-(2700 6000), nodes 57031 57032: valve 5713,
--     hydrant 5723 and service line 5731 hold 57031, no one holds 57032;
--     enforcement 5 keeps it silent.
--   valve 5714: no nodes, silent under enforcement 5.
--   hydrant 5724: node columns 57041 and 57042 differ (24830, silent under
--     enforcement 5).
--   service line 5731: three nodes, 57031 57052 (CID 1) and 57053 (CID 2):
--     57031 is held by three features (20951), 57052 by none (15733).
--
-- Node-ordered rules (subordinate 0: the output end names the connected
-- feature): service line 5731 is fed by main 5701 and ends 0.5 from it;
-- 5732 names no feature (21269); 5733 names valve 5711, a class without
-- rules (21305); 5734 has no SERVICE_N row (21266).

ALTER TABLE QTX_COMMON_N ADD COLUMN NODE_1 NUMBER(10);
ALTER TABLE QTX_COMMON_N ADD COLUMN NODE_2 NUMBER(10);
ALTER TABLE QTX_COMMON_N ADD COLUMN PHASE_CODE NUMBER(5);
-- The validation-set package finds the features sharing a node by these.
CREATE INDEX QTX_COMMON_N_NODE_1 ON QTX_COMMON_N (NODE_1);
CREATE INDEX QTX_COMMON_N_NODE_2 ON QTX_COMMON_N (NODE_2);
ALTER TABLE SERVICE_N ADD COLUMN IN_FNO NUMBER(5);
ALTER TABLE SERVICE_N ADD COLUMN IN_FID NUMBER(10);
ALTER TABLE SERVICE_N ADD COLUMN OUT_FNO NUMBER(5);
ALTER TABLE SERVICE_N ADD COLUMN OUT_FID NUMBER(10);

UPDATE QTX_RELATIONSHIPS_OPTABLE SET QTX_SUPPORTCNO = 1, QTX_ADDITIONALPARAMETERS = 'NODE_1,NODE_2,'
  WHERE QTX_RNO = 3;
UPDATE QTX_RELATIONSHIPS_OPTABLE SET QTX_SUPPORTCNO = 41 WHERE QTX_RNO = 5;

INSERT INTO QTX_FEATRELATIONSHIPS_OPTABLE (QTX_FNO, QTX_RNO) VALUES
  (102, 3),
  (103, 3);

INSERT INTO QTX_NODEEDGERULES_OPTABLE (QTX_SOURCEFNO, QTX_CONNECTINGFNO, QTX_NUMBEROFNODES, QTX_TRIGGERINGCNO,
    QTX_ENFORCEMENT, QTX_CONNECTINGTRIGGERINGCNO, QTX_MAXOFFSET, QTX_OFFSETVALIDATIONPRIORITY,
    QTX_ALLOWINTERIORRELATION) VALUES
  (101, 102, 2, 12, 5, 22, 0.5, NULL, 0),
  (101, 103, 2, 12, 5, 32, 0.5, NULL, 0),
  (102, 101, 1, 22, 5, 12, NULL, NULL, NULL),
  (103, 101, 1, 32, 5, 12, NULL, NULL, NULL),
  (104, 101, 3, 42, 1, 12, NULL, NULL, NULL);

INSERT INTO QTX_NODEORDEREDRULES_OPTABLE (QTX_SOURCEFNO, QTX_CONNECTINGFNO, QTX_TRIGGERINGCNO,
    QTX_CONNECTINGTRIGGERINGCNO, QTX_MAXOFFSET, QTX_OFFSETVALIDATIONPRIORITY, QTX_ALLOWINTERIORRELATION) VALUES
  (104, 101, 42, 12, 1.0, NULL, 0),
  (101, 104, 12, 42, 1.0, NULL, 0);

INSERT INTO QTX_ADD_REL_PARAMS_OPTABLE (QTX_PARAMNAME, QTX_PARAMVALUE) VALUES
  ('3-PipelineConnectivity', '1'),
  ('3-EndpointValidationPriority', 'Endpoint'),
  ('5-InputIdentifier', 'IN_FID'),
  ('5-InputFeatureNumber', 'IN_FNO'),
  ('5-OutputIdentifier', 'OUT_FID'),
  ('5-OutputFeatureNumber', 'OUT_FNO');

-- ---- phases ----

CREATE TABLE QTX_PHASE_PICKLIST_OPTABLE (
  PHASE_KEY  NUMBER(5) NOT NULL PRIMARY KEY,
  PHASE_TEXT VARCHAR2(10)
);
INSERT INTO QTX_PHASE_PICKLIST_OPTABLE (PHASE_KEY, PHASE_TEXT) VALUES
  (1, 'A'),
  (2, 'AB'),
  (3, 'ABC'),
  (4, 'C '),
  (5, 'ABN');

INSERT INTO QTX_ATTRIBUTEINFO_OPTABLE (QTX_ANO, QTX_CNO, QTX_NAME, QTX_COMPONENTTABLE, QTX_FIELD, QTX_USERNAME,
    QTX_DATATYPE, DATA_DEFAULT, QTX_REQUIRED, QTX_PICKLISTTABLE, QTX_KEYFIELD, QTX_VALUEFIELD) VALUES
  (106, 1, 'COMMON_ATTR', 'QTX_COMMON_N', 'PHASE_CODE', 'Phase', 3, NULL, 0, 'QTX_PHASE_PICKLIST_OPTABLE',
   'PHASE_KEY', 'PHASE_TEXT');

-- The phase rules of mains against valves and hydrants are rows of
-- QTX_ATTRVAL_OPTABLE, which 60_attribute_validation.sql creates: they stand in
-- 62_connectivity_phases.sql.

-- ---- features ----

INSERT INTO QTX_COMMON_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, FEATURE_STATE, LOCATION, OWNER, NODE_1, NODE_2,
    PHASE_CODE) VALUES
  (24, 101, 5701, 1, 1, 'INS', 'Ring Road 1', 'CITY', 57001, 57002, 3),
  (25, 101, 5702, 1, 1, 'INS', 'Ring Road 2', 'CITY', 57011, 57012, 5),
  (26, 101, 5703, 1, 1, 'INS', 'Ring Road 3', 'CITY', 57021, NULL, NULL),
  (27, 101, 5704, 1, 1, 'INS', 'Ring Road 4', 'CITY', 57031, 57032, NULL),
  (28, 102, 5711, 1, 1, 'INS', 'Ring Road 1 west', 'CITY', 57001, 57001, 2),
  (29, 102, 5712, 1, 1, 'INS', 'Ring Road 2 east', 'CITY', 57011, 57011, 1),
  (30, 102, 5713, 1, 1, 'INS', 'Ring Road 4 west', 'CITY', 57031, 57031, NULL),
  (31, 102, 5714, 1, 1, 'INS', 'Ring Road 5', 'CITY', NULL, NULL, NULL),
  (32, 103, 5721, 1, 1, 'INS', 'Ring Road 1 east', 'CITY', 57002, 57002, 4),
  (33, 103, 5722, 1, 1, 'INS', 'Ring Road 2 west', 'CITY', 57012, 57012, 1),
  (34, 103, 5723, 1, 1, 'INS', 'Ring Road 4 west', 'CITY', 57031, 57031, NULL),
  (35, 103, 5724, 1, 1, 'INS', 'Ring Road 6', 'CITY', 57041, 57042, NULL),
  (36, 104, 5731, 1, 1, 'INS', 'Ring Road 1 house', 'CITY', 57031, 57052, NULL),
  (37, 104, 5731, 1, 2, 'INS', 'Ring Road 1 house', 'CITY', NULL, 57053, NULL),
  (38, 104, 5732, 1, 1, 'PPI', 'Ring Road 7 house', 'CITY', NULL, NULL, NULL),
  (39, 104, 5733, 1, 1, 'PPI', 'Ring Road 8 house', 'CITY', NULL, NULL, NULL),
  (40, 104, 5734, 1, 1, 'PPI', 'Ring Road 9 house', 'CITY', NULL, NULL, NULL);

INSERT INTO WATER_MAIN_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, LINE_STYLE) VALUES
  (12, 101, 5701, 12, 1, 1),
  (13, 101, 5702, 12, 1, 1),
  (14, 101, 5703, 12, 1, 1),
  (15, 101, 5704, 12, 1, 1);

INSERT INTO VALVE_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SYMBOL_ROTATION) VALUES
  (3, 102, 5711, 22, 1, 0),
  (4, 102, 5712, 22, 1, 0),
  (5, 102, 5713, 22, 1, 0),
  (6, 102, 5714, 22, 1, 0);

INSERT INTO HYDRANT_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES
  (4, 103, 5721, 32, 1),
  (5, 103, 5722, 32, 1),
  (6, 103, 5723, 32, 1),
  (7, 103, 5724, 32, 1);

INSERT INTO SERVICE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SERVICE_TYPE, METER_ID, DIAMETER, ACCOUNT_NO,
    IN_FNO, IN_FID, OUT_FNO, OUT_FID) VALUES
  (3, 104, 5731, 41, 1, 'DOMESTIC', 'M-570031', 25, NULL, NULL, NULL, 101, 5701),
  (4, 104, 5732, 41, 1, 'DOMESTIC', 'M-570032', 25, NULL, NULL, NULL, 0, 0),
  (5, 104, 5733, 41, 1, 'DOMESTIC', 'M-570033', 25, NULL, NULL, NULL, 102, 5711);

INSERT INTO SERVICE_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES
  (3, 104, 5731, 42, 1),
  (4, 104, 5732, 42, 1),
  (5, 104, 5733, 42, 1),
  (6, 104, 5734, 42, 1);

INSERT INTO WATER_MAIN_LN_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ,
    SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES
  (12, 101, 5701, 12, 1, 12, 0, 2, 0, 2000.0, 6000.0, 2100.0, 6000.0),
  (13, 101, 5702, 12, 1, 13, 0, 2, 0, 2200.0, 6000.0, 2300.0, 6000.0),
  (14, 101, 5703, 12, 1, 14, 0, 2, 0, 2400.0, 6000.0, 2500.0, 6000.0),
  (15, 101, 5704, 12, 1, 15, 0, 2, 0, 2600.0, 6000.0, 2700.0, 6000.0);

INSERT INTO VALVE_PT_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ,
    SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES
  (3, 102, 5711, 22, 1, 3, 0, 1, 0, 2000.0, 6000.0, 1.0, 0.0),
  (4, 102, 5712, 22, 1, 4, 0, 1, 0, 2300.0, 6000.0, 1.0, 0.0),
  (5, 102, 5713, 22, 1, 5, 0, 1, 0, 2600.0, 6000.0, 1.0, 0.0),
  (6, 102, 5714, 22, 1, 6, 0, 1, 0, 2800.0, 6000.0, 1.0, 0.0);

INSERT INTO HYDRANT_PT_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ,
    SDO_X1, SDO_Y1) VALUES
  (4, 103, 5721, 32, 1, 4, 0, 1, 0, 2100.0, 6000.0),
  (5, 103, 5722, 32, 1, 5, 0, 1, 0, 2200.0, 6000.0),
  (6, 103, 5723, 32, 1, 6, 0, 1, 0, 2600.0, 6000.0),
  (7, 103, 5724, 32, 1, 7, 0, 1, 0, 2900.0, 6000.0);

INSERT INTO SERVICE_LN_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ,
    SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES
  (3, 104, 5731, 42, 1, 3, 0, 2, 0, 2100.0, 6010.0, 2100.0, 6000.5),
  (4, 104, 5732, 42, 1, 4, 0, 2, 0, 3200.0, 6010.0, 3200.0, 6000.0),
  (5, 104, 5733, 42, 1, 5, 0, 2, 0, 3300.0, 6010.0, 3300.0, 6000.0),
  (6, 104, 5734, 42, 1, 6, 0, 2, 0, 3400.0, 6010.0, 3400.0, 6000.0);

INSERT INTO QTX_METADATAKEYS_OPTABLE (QTX_OPTIMIZEDTABLENAME, QTX_SQL, QTX_LCID) VALUES
  ('QTX_PHASE_PICKLIST_OPTABLE', 'SELECT * FROM QTX_PHASE_PICKLIST_OPTABLE', NULL);

-- Stationing: the station component shared by station points (PI, 121),
-- station series (122) and the stationed classes 123-127, the stationing
-- parameters, the rule table of relationship 14 (QTX_TYPE 7) and station rows
-- that plant each finding the stationing checks make. FIDs 5451-5905 lie above
-- the earlier features and below those QTX_FID_SEQ hands out.
--
-- Lines and series (begin..end measure): line L1 holds S1 (0..100) then S2
-- (100..200); line L2 holds S3 (0..50); line L3 holds O'NEIL (0..40), an id
-- with a quote. PI stations: S1 0, 50, 100; S2 150, 200; S3 0, 30.
--
-- Rules (QTX_CHARACTERISTIC): Pipeline Segment 1, 5; Casing 4, 6, 8; Marker
-- 4, 7, 9, 19; Bend 10 (its primary geometry must be one arc); Coating 5.
--
-- Findings planted (feature: message ids):
--   5501, 5502, 5603, 5701 (a lower-case series id), 5703: none
--   5503: 21447 (begins on no PI), 21838 (gap 150..160 before 5504)
--   5504: 21815 (nothing of characteristic 5 ends where it begins)
--   5505: 21075 (5506 overlaps its end), 21838 twice (5506 begins and ends
--         where nothing meets it)
--   5506: 21074 (5505 overlaps its begin), 21815
--   5601: 21948; 5602: 21949 (casings overlapping on S1)
--   5604: 21067 (S1 to S3: two lines)
--   5605: 21069 (one series, no extent)
--   5607: 21949; 5608: 21948 (overlap on O'NEIL)
--   5609: 22169, 21072, 21073 (series S9 is unknown)
--   5610: 22170, 22171 (S2 to S1: backwards); 5611: 22171 (40 to 35)
--   5702: 21070 (a marker with extent)
--   5801: 21461 (no arc)
--   5901: 21064 (no end series); 5902: 21064 (begin series is the default
--         "NONE"); 5903: 21065 (begin measure only); 5904: 21066 (end
--         measure only); 5905: 21060 (no station row)

CREATE TABLE STATION_N (
  QTX_ID      NUMBER(10),
  QTX_FNO     NUMBER(5)  NOT NULL,
  QTX_FID     NUMBER(10) NOT NULL,
  QTX_CNO     NUMBER(5)  NOT NULL,
  QTX_CID     NUMBER(5)  NOT NULL,
  BEGIN_SSID  VARCHAR2(20),
  END_SSID    VARCHAR2(20),
  BEGIN_MS    NUMBER(12,3),
  END_MS      NUMBER(12,3),
  LENGTH_M    NUMBER(12,3),
  LINE_ID     VARCHAR2(20),
  LTT_ID      NUMBER(10) DEFAULT 0,
  LTT_STATUS  VARCHAR2(10),
  LTT_DATE    DATE,
  LTT_TID     NUMBER(10),
  PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID),
  UNIQUE (QTX_ID)
);
CREATE INDEX STATION_N_BEGIN ON STATION_N (BEGIN_SSID, BEGIN_MS);
CREATE INDEX STATION_N_END ON STATION_N (END_SSID, END_MS);

-- The bend's line, where its arc would stand; bend 5801 has none.
CREATE TABLE BEND_LN (
  QTX_ID      NUMBER(10),
  QTX_FNO     NUMBER(5)  NOT NULL,
  QTX_FID     NUMBER(10) NOT NULL,
  QTX_CNO     NUMBER(5)  NOT NULL,
  QTX_CID     NUMBER(5)  NOT NULL,
  LTT_ID      NUMBER(10) DEFAULT 0,
  LTT_STATUS  VARCHAR2(10),
  LTT_DATE    DATE,
  LTT_TID     NUMBER(10),
  PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID),
  UNIQUE (QTX_ID)
);
CREATE TABLE BEND_LN_SDOGEOM (
  QTX_ID         NUMBER(10),
  QTX_FNO        NUMBER(5)  NOT NULL,
  QTX_FID        NUMBER(10) NOT NULL,
  QTX_CNO        NUMBER(5)  NOT NULL,
  QTX_CID        NUMBER(5)  NOT NULL,
  SDO_GID        NUMBER(10) NOT NULL,
  SDO_ESEQ       NUMBER(5)  NOT NULL,
  SDO_ETYPE      NUMBER(5)  NOT NULL,
  SDO_SEQ        NUMBER(5)  NOT NULL,
  SDO_X1         NUMBER(12,3),
  SDO_Y1         NUMBER(12,3),
  SDO_X2         NUMBER(12,3),
  SDO_Y2         NUMBER(12,3),
  SDO_X3         NUMBER(12,3),
  SDO_Y3         NUMBER(12,3),
  SDO_X4         NUMBER(12,3),
  SDO_Y4         NUMBER(12,3),
  LTT_ID         NUMBER(10) DEFAULT 0,
  LTT_STATUS     VARCHAR2(10),
  LTT_DATE       DATE,
  LTT_TID        NUMBER(10),
  PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID, SDO_ESEQ, SDO_SEQ)
);

-- ---- metadata ----

INSERT INTO QTX_FEATURES_OPTABLE (QTX_FNO, QTX_USERNAME, QTX_TYPE, QTX_CLASSIFICATIONANO, QTX_PRIMARYATTRIBUTECNO, QTX_PRIMARYGEOGRAPHICCNO, QTX_ROLE) VALUES
  (121, 'Station Point', 1, NULL, 81, NULL, NULL),
  (122, 'Station Series', 4, NULL, 81, NULL, NULL),
  (123, 'Pipeline Segment', 4, NULL, 81, NULL, NULL),
  (124, 'Casing', 4, NULL, 81, NULL, NULL),
  (125, 'Marker', 1, NULL, 81, NULL, NULL),
  (126, 'Bend', 4, NULL, 81, 82, NULL),
  (127, 'Coating', 4, NULL, 81, NULL, NULL);

INSERT INTO QTX_COMPONENTINFO_OPTABLE (QTX_CNO, QTX_NAME, QTX_USERNAME, QTX_TABLE, QTX_TYPE, QTX_GEOMETRYTYPE, QTX_SUBTYPE, QTX_ROLE) VALUES
  (81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, NULL, NULL, NULL),
  (82, 'BEND_LINE', 'Bend Line', 'BEND_LN', 2, 'PolylineGeometry', NULL, NULL);

INSERT INTO QTX_FEATURECOMPS_OPTABLE (QTX_FNO, QTX_CNO, QTX_NAME, QTX_USERNAME, QTX_TABLE, QTX_TYPE, QTX_REPEATING, QTX_GEOMETRYTYPE, QTX_ORDINAL, QTX_ROLE) VALUES
  (121, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (122, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (123, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (124, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (125, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (126, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL),
  (126, 82, 'BEND_LINE', 'Bend Line', 'BEND_LN', 2, 0, 'PolylineGeometry', 2, NULL),
  (127, 81, 'STATION_EVENT', 'Station Event', 'STATION_N', 1, 0, NULL, 1, NULL);

INSERT INTO QTX_ATTRIBUTEINFO_OPTABLE (QTX_ANO, QTX_CNO, QTX_NAME, QTX_COMPONENTTABLE, QTX_FIELD, QTX_USERNAME, QTX_DATATYPE, DATA_DEFAULT, QTX_REQUIRED, QTX_RELATIONIFACEPROGID, QTX_RELATIONIFACETYPE, QTX_RIARGGROUPNO, QTX_RELATIONIFACEPRJNO, QTX_PICKLISTTABLE, QTX_KEYFIELD, QTX_VALUEFIELD, QTX_FOREIGNKEYTABLE, QTX_FOREIGNKEYFIELD, QTX_DOMAINTABLE, QTX_DOMAINFIELD, QTX_INTERFACE, QTX_FUNCTIONALVALIDATION, QTX_INTERFACEARGUMENT, QTX_FUNCTIONALTYPE, QTX_PRJNO, QTX_ROLE) VALUES
  (8101, 81, 'STATION_EVENT', 'STATION_N', 'BEGIN_SSID', 'Begin Series', 10, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (8102, 81, 'STATION_EVENT', 'STATION_N', 'END_SSID', 'End Series', 10, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (8103, 81, 'STATION_EVENT', 'STATION_N', 'BEGIN_MS', 'Begin Station', 6, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (8104, 81, 'STATION_EVENT', 'STATION_N', 'END_MS', 'End Station', 6, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (8105, 81, 'STATION_EVENT', 'STATION_N', 'LENGTH_M', 'Length (m)', 6, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (8106, 81, 'STATION_EVENT', 'STATION_N', 'LINE_ID', 'Line', 10, NULL, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

-- Field parameters name attributes of the station component; the PI and
-- series class numbers are read by the station service only.
INSERT INTO QTX_ADD_REL_PARAMS_OPTABLE (QTX_PARAMNAME, QTX_PARAMVALUE) VALUES
  ('StationingEventLineIDField', '8106'),
  ('StationingBSSIDField', '8101'),
  ('StationingESSIDField', '8102'),
  ('StationingBMSField', '8103'),
  ('StationingEMSField', '8104'),
  ('StationingLengthField', '8105'),
  ('StationingDefaultSSID', 'NONE'),
  ('StationingPIFNO', '121'),
  ('StationingSSFNO', '122');

-- One row per characteristic of a stationed class.
CREATE TABLE QTX_STATIONINGRULES_OPTABLE (
  QTX_FNO            NUMBER(5) NOT NULL,
  QTX_TRIGGERINGCNO  NUMBER(5),
  QTX_CHARACTERISTIC NUMBER(5) NOT NULL
);
INSERT INTO QTX_STATIONINGRULES_OPTABLE (QTX_FNO, QTX_TRIGGERINGCNO, QTX_CHARACTERISTIC) VALUES
  (123, 81, 1),
  (123, 81, 5),
  (124, 81, 4),
  (124, 81, 6),
  (124, 81, 8),
  (125, 81, 4),
  (125, 81, 7),
  (125, 81, 9),
  (125, 81, 19),
  (126, 81, 10),
  (127, 81, 5);

INSERT INTO QTX_RELATIONSHIPS_OPTABLE (QTX_RNO, QTX_TYPE, QTX_USERNAME, QTX_OPTIMIZEDTABLE, QTX_SUBORDINATE, QTX_SUPPORTCNO, QTX_ADDITIONALPARAMETERS, QTX_FNOFIELD) VALUES
  (14, 7, 'Pipeline Stationing', 'QTX_STATIONINGRULES_OPTABLE', 0, 81, NULL, NULL);

INSERT INTO QTX_FEATRELATIONSHIPS_OPTABLE (QTX_FNO, QTX_RNO) VALUES
  (123, 14),
  (124, 14),
  (125, 14),
  (126, 14),
  (127, 14);

INSERT INTO QTX_METADATAKEYS_OPTABLE (QTX_OPTIMIZEDTABLENAME, QTX_SQL, QTX_LCID) VALUES
  ('QTX_STATIONINGRULES_OPTABLE', 'SELECT * FROM QTX_STATIONINGRULES_OPTABLE ORDER BY QTX_FNO, QTX_CHARACTERISTIC', NULL);

-- ---- station rows ----

INSERT INTO STATION_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, BEGIN_SSID, END_SSID, BEGIN_MS, END_MS, LENGTH_M, LINE_ID) VALUES
  (1, 122, 5451, 81, 1, 'S1', 'S1', 0, 100, 100, 'L1'),
  (2, 122, 5452, 81, 1, 'S2', 'S2', 100, 200, 100, 'L1'),
  (3, 122, 5453, 81, 1, 'S3', 'S3', 0, 50, 50, 'L2'),
  (4, 122, 5454, 81, 1, 'O''NEIL', 'O''NEIL', 0, 40, 40, 'L3'),
  (5, 121, 5461, 81, 1, 'S1', 'S1', 0, 0, 0, 'L1'),
  (6, 121, 5462, 81, 1, 'S1', 'S1', 50, 50, 0, 'L1'),
  (7, 121, 5463, 81, 1, 'S1', 'S1', 100, 100, 0, 'L1'),
  (8, 121, 5464, 81, 1, 'S2', 'S2', 150, 150, 0, 'L1'),
  (9, 121, 5466, 81, 1, 'S2', 'S2', 200, 200, 0, 'L1'),
  (10, 121, 5467, 81, 1, 'S3', 'S3', 0, 0, 0, 'L2'),
  (11, 121, 5468, 81, 1, 'S3', 'S3', 30, 30, 0, 'L2'),
  (12, 123, 5501, 81, 1, 'S1', 'S1', 0, 50, 50, 'L1'),
  (13, 123, 5502, 81, 1, 'S1', 'S1', 50, 100, 50, 'L1'),
  (14, 123, 5503, 81, 1, 'S2', 'S2', 100, 150, 50, 'L1'),
  (15, 127, 5504, 81, 1, 'S2', 'S2', 160, 200, 40, 'L1'),
  (16, 123, 5505, 81, 1, 'S3', 'S3', 0, 30, 30, 'L2'),
  (17, 127, 5506, 81, 1, 'S3', 'S3', 20, 50, 30, 'L2'),
  (18, 124, 5601, 81, 1, 'S1', 'S1', 10, 20, 10, 'L1'),
  (19, 124, 5602, 81, 1, 'S1', 'S1', 5, 15, 10, 'L1'),
  (20, 124, 5603, 81, 1, 'S1', 'S2', 90, 110, 20, 'L1'),
  (21, 124, 5604, 81, 1, 'S1', 'S3', 95, 45, 10, 'L1'),
  (22, 124, 5605, 81, 1, 'S3', 'S3', 40, 40, 0, 'L2'),
  (23, 124, 5607, 81, 1, 'O''NEIL', 'O''NEIL', 10, 20, 10, 'L3'),
  (24, 124, 5608, 81, 1, 'O''NEIL', 'O''NEIL', 15, 30, 15, 'L3'),
  (25, 124, 5609, 81, 1, 'S9', 'S9', 0, 5, 5, NULL),
  (26, 124, 5610, 81, 1, 'S2', 'S1', 120, 20, 20, 'L1'),
  (27, 124, 5611, 81, 1, 'S1', 'S1', 40, 35, 5, 'L1'),
  (28, 125, 5701, 81, 1, 's1', 's1', 30, 30, NULL, 'L1'),
  (29, 125, 5702, 81, 1, 'S1', 'S1', 60, 70, 10, 'L1'),
  (30, 125, 5703, 81, 1, 'S3', 'S3', 10, 10, 0, 'L2'),
  (31, 126, 5801, 81, 1, 'S1', 'S1', 50, 50, 0, 'L1'),
  (32, 124, 5901, 81, 1, 'S1', NULL, 60, 65, 5, 'L1'),
  (33, 124, 5902, 81, 1, 'NONE', 'S1', 60, 65, 5, 'L1'),
  (34, 123, 5903, 81, 1, 'S4', 'S4', 5, NULL, NULL, NULL),
  (35, 123, 5904, 81, 1, 'S4', 'S4', NULL, 5, NULL, NULL);

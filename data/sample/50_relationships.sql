-- Relationships between the feature classes: the relationship table, which
-- relationships apply to which class, and one rule table per kind of
-- relationship. The rule tables have every column their helpers read and no
-- rows yet; rows, link columns and support components come with each kind.

-- One row per relationship (QTX_RNO). QTX_TYPE chooses the helper: 2
-- node-edge connectivity, 3 ownership, 4 detail, 8 many-to-many ownership, 9
-- node-ordered connectivity; 5 has none. Pairs share a rule table and
-- differ in QTX_SUBORDINATE (1: seen from the owned or contained side).
-- Number 4 is left out on purpose: a number below the largest with no row.
CREATE TABLE QTX_RELATIONSHIPS_OPTABLE (
  QTX_RNO                  NUMBER(5) NOT NULL,
  QTX_TYPE                 NUMBER(5),
  QTX_USERNAME             VARCHAR2(80),
  QTX_OPTIMIZEDTABLE       VARCHAR2(30),
  QTX_SUBORDINATE          NUMBER(1),
  QTX_SUPPORTCNO           NUMBER(5),
  QTX_ADDITIONALPARAMETERS VARCHAR2(255),
  QTX_FNOFIELD             VARCHAR2(30)
);
INSERT INTO QTX_RELATIONSHIPS_OPTABLE (QTX_RNO, QTX_TYPE, QTX_USERNAME, QTX_OPTIMIZEDTABLE, QTX_SUBORDINATE, QTX_SUPPORTCNO, QTX_ADDITIONALPARAMETERS, QTX_FNOFIELD) VALUES
  (1, 3, 'Main Owns Devices', 'QTX_OWNERSHIPRULES_OPTABLE', 0, NULL, NULL, NULL),
  (2, 3, 'Device Owned By Main', 'QTX_OWNERSHIPRULES_OPTABLE', 1, NULL, NULL, NULL),
  (3, 2, 'Service Connection', 'QTX_NODEEDGERULES_OPTABLE', 0, NULL, NULL, NULL),
  (5, 9, 'Service Line Feed Order', 'QTX_NODEORDEREDRULES_OPTABLE', 0, NULL, NULL, NULL),
  (6, 8, 'Main Serves Stations', 'QTX_M2MOWNERSHIPRULES_OPTABLE', 0, NULL, NULL, NULL),
  (7, 8, 'Station Served By Mains', 'QTX_M2MOWNERSHIPRULES_OPTABLE', 1, NULL, NULL, NULL),
  (8, 4, 'Valve In Detail', 'QTX_DETAILRULES_OPTABLE', 1, NULL, NULL, 'QTX_CONTAINEDFNO'),
  (9, 4, 'Detail Holds Valves', 'QTX_DETAILRULES_OPTABLE', 0, NULL, NULL, 'QTX_FNO'),
  (10, 5, 'Station Label Leader', 'QTX_LEADERLINERULES_OPTABLE', NULL, NULL, NULL, NULL);

-- Which relationships apply to a feature class, one row each; rows of one
-- class are not in number order.
CREATE TABLE QTX_FEATRELATIONSHIPS_OPTABLE (
  QTX_FNO NUMBER(5) NOT NULL,
  QTX_RNO NUMBER(5) NOT NULL
);
INSERT INTO QTX_FEATRELATIONSHIPS_OPTABLE (QTX_FNO, QTX_RNO) VALUES
  (101, 6),
  (101, 1),
  (101, 3),
  (102, 2),
  (102, 8),
  (103, 2),
  (104, 5),
  (104, 3),
  (105, 7),
  (105, 10);

-- Ownership (3): one row per pairing of an owned class (QTX_SOURCEFNO) and
-- an owner class, the link columns of the owned side, the distance rules
-- and the relationship-geometry interfaces of either side.
CREATE TABLE QTX_OWNERSHIPRULES_OPTABLE (
  QTX_SOURCEFNO                NUMBER(5),
  QTX_OWNERFNO                 NUMBER(5),
  QTX_SOURCECNO                NUMBER(5),
  QTX_OWNERFIELD               VARCHAR2(30),
  QTX_OWNERCNOFIELD            VARCHAR2(30),
  QTX_SECONDOWNERFIELD         VARCHAR2(30),
  QTX_SECONDOWNERCNOFIELD      VARCHAR2(30),
  QTX_ENFORCEMENT              NUMBER(5),
  QTX_TRIGGERINGCNO            NUMBER(5),
  QTX_OWNERTRIGGERINGCNO       NUMBER(5),
  QTX_MAXOFFSET                NUMBER(12,4),
  QTX_OFFSETVALIDATIONPRIORITY VARCHAR2(30),
  QTX_ALLOWINTERIORRELATION    NUMBER(1),
  QTX_INTERFACE                VARCHAR2(255),
  QTX_PRJNO                    NUMBER(10),
  QTX_RIARGGROUPNO             NUMBER(10),
  QTX_OWNERINTERFACE           VARCHAR2(255),
  QTX_OWNERPRJNO               NUMBER(10),
  QTX_OWNERRIARGGROUPNO        NUMBER(10)
);

-- Node-edge connectivity (2): classes that carry nodes and the classes they
-- may connect to.
CREATE TABLE QTX_NODEEDGERULES_OPTABLE (
  QTX_SOURCEFNO                NUMBER(5),
  QTX_CONNECTINGFNO            NUMBER(5),
  QTX_NUMBEROFNODES            NUMBER(5),
  QTX_TRIGGERINGCNO            NUMBER(5),
  QTX_ENFORCEMENT              NUMBER(10),
  QTX_CONNECTINGTRIGGERINGCNO  NUMBER(5),
  QTX_MAXOFFSET                NUMBER(12,4),
  QTX_OFFSETVALIDATIONPRIORITY VARCHAR2(30),
  QTX_ALLOWINTERIORRELATION    NUMBER(1),
  QTX_INTERFACE                VARCHAR2(255),
  QTX_PRJNO                    NUMBER(10),
  QTX_RIARGGROUPNO             NUMBER(10)
);

-- Node-ordered connectivity (9): allowed pairs of source and connecting
-- classes with their triggering components and offsets.
CREATE TABLE QTX_NODEORDEREDRULES_OPTABLE (
  QTX_SOURCEFNO                NUMBER(5),
  QTX_CONNECTINGFNO            NUMBER(5),
  QTX_TRIGGERINGCNO            NUMBER(5),
  QTX_CONNECTINGTRIGGERINGCNO  NUMBER(5),
  QTX_MAXOFFSET                NUMBER(12,4),
  QTX_OFFSETVALIDATIONPRIORITY VARCHAR2(30),
  QTX_ALLOWINTERIORRELATION    NUMBER(1),
  QTX_INTERFACE                VARCHAR2(255),
  QTX_PRJNO                    NUMBER(10),
  QTX_RIARGGROUPNO             NUMBER(10)
);

-- Many-to-many ownership (8): allowed pairings of owned and owner classes.
CREATE TABLE QTX_M2MOWNERSHIPRULES_OPTABLE (
  QTX_SOURCEFNO                NUMBER(5),
  QTX_OWNERFNO                 NUMBER(5),
  QTX_ENFORCEMENT              NUMBER(5),
  QTX_TRIGGERINGCNO            NUMBER(5),
  QTX_OWNERTRIGGERINGCNO       NUMBER(5),
  QTX_MAXOFFSET                NUMBER(12,4),
  QTX_OFFSETVALIDATIONPRIORITY VARCHAR2(30),
  QTX_INTERFACE                VARCHAR2(255),
  QTX_PRJNO                    NUMBER(10),
  QTX_RIARGGROUPNO             NUMBER(10),
  QTX_OWNERINTERFACE           VARCHAR2(255),
  QTX_OWNERPRJNO               NUMBER(10),
  QTX_OWNERRIARGGROUPNO        NUMBER(10)
);

-- Detail (4): a detail owner class (QTX_FNO) and a contained class with the
-- components and columns that tie them.
CREATE TABLE QTX_DETAILRULES_OPTABLE (
  QTX_FNO                    NUMBER(5),
  QTX_CONTAINEDFNO           NUMBER(5),
  QTX_CONTAINEDTRIGGERINGCNO NUMBER(5),
  QTX_TRIGGERINGNAME         VARCHAR2(30),
  QTX_IDENTIFIERFIELD        VARCHAR2(30),
  QTX_ATTRIBUTECNO           NUMBER(5),
  QTX_USERNAMEFIELD          VARCHAR2(30),
  QTX_LEGENDNUMBERFIELD      VARCHAR2(30),
  QTX_DETAILMBRXLOFIELD      VARCHAR2(30),
  QTX_DETAILMBRXHIGHFIELD    VARCHAR2(30),
  QTX_DETAILMBRYLOFIELD      VARCHAR2(30),
  QTX_DETAILMBRYHIGHFIELD    VARCHAR2(30)
);

-- The rules of the type-5 relationship, which no helper reads.
CREATE TABLE QTX_LEADERLINERULES_OPTABLE (
  QTX_SOURCEFNO NUMBER(5),
  QTX_TARGETFNO NUMBER(5)
);

INSERT INTO QTX_METADATAKEYS_OPTABLE (QTX_OPTIMIZEDTABLENAME, QTX_SQL, QTX_LCID) VALUES
  ('QTX_RELATIONSHIPS_OPTABLE', 'SELECT * FROM QTX_RELATIONSHIPS_OPTABLE ORDER BY QTX_RNO', NULL),
  ('QTX_FEATRELATIONSHIPS_OPTABLE', 'SELECT * FROM QTX_FEATRELATIONSHIPS_OPTABLE', NULL),
  ('QTX_OWNERSHIPRULES_OPTABLE', 'SELECT * FROM QTX_OWNERSHIPRULES_OPTABLE', NULL),
  ('QTX_NODEEDGERULES_OPTABLE', 'SELECT * FROM QTX_NODEEDGERULES_OPTABLE', NULL),
  ('QTX_NODEORDEREDRULES_OPTABLE', 'SELECT * FROM QTX_NODEORDEREDRULES_OPTABLE', NULL),
  ('QTX_M2MOWNERSHIPRULES_OPTABLE', 'SELECT * FROM QTX_M2MOWNERSHIPRULES_OPTABLE', NULL),
  ('QTX_DETAILRULES_OPTABLE', 'SELECT * FROM QTX_DETAILRULES_OPTABLE', NULL),
  ('QTX_LEADERLINERULES_OPTABLE', 'SELECT * FROM QTX_LEADERLINERULES_OPTABLE', NULL);

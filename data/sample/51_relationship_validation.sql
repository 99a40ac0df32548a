-- Relationship validation. The sampling station (105) also lists
-- relationship 4, which has no row: validating a station costs one finding
-- for it ("cannot be validated") while the station's other relationships
-- run.
INSERT INTO QTX_FEATRELATIONSHIPS_OPTABLE (QTX_FNO, QTX_RNO) VALUES
  (105, 4);

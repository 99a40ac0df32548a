-- Placement of the dimension classes 107-109 and the stationed classes
-- 121-127: one row per component, so that validating one of their features
-- checks it and hands it to its relationships. The radius dimension (110)
-- stays without placement on purpose: its features count more components
-- than its placement lists (25073) and leave the run.
INSERT INTO QTX_FEATUREPLACEMENT_OPTABLE (QTX_FNO, QTX_CNO, QTX_NAME, QTX_USERNAME, QTX_INSERTORDINAL, QTX_REPEATING, QTX_REQUIRED, QTX_ALTERNATEREQUIREDNAME, QTX_ALTERNATEREQUIREDCNO) VALUES
  (107, 71, 'SIMPLE_DIMENSION', 'Simple Dimension', 1, 0, 1, NULL, NULL),
  (108, 72, 'ORTHOGONAL_DIMENSION', 'Orthogonal Dimension', 1, 0, 1, NULL, NULL),
  (109, 74, 'POLAR_DIMENSION', 'Polar Dimension', 1, 0, 1, NULL, NULL),
  (121, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (122, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (123, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (124, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (125, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (126, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL),
  (126, 82, 'BEND_LINE', 'Bend Line', 2, 0, 0, NULL, NULL),
  (127, 81, 'STATION_EVENT', 'Station Event', 1, 0, 1, NULL, NULL);

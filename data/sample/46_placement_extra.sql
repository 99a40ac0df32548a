-- Placement configuration 3: one feature per (feature number, feature index)
-- with a row included in placement. Main 1 is listed twice; main 2 has a row
-- left out and one included (one feature); feature number 100 has no
-- components at all, so placing it creates nothing.
INSERT INTO QTX_CONFIGPLACEMENT_OPTABLE (QTX_PCNO, QTX_FNO, QTX_FEATUREINDEX, QTX_INCLUDEINPLACEMENT, QTX_USERNAME, QTX_ORDINAL) VALUES
  (3, 101, 1, 1, 'Two mains and a valve', 1),
  (3, 101, 1, 1, 'Two mains and a valve', 2),
  (3, 101, 2, 0, 'Two mains and a valve', 3),
  (3, 101, 2, 1, 'Two mains and a valve', 4),
  (3, 102, 1, 1, 'Two mains and a valve', 5),
  (3, 100, 1, 1, 'Two mains and a valve', 6);

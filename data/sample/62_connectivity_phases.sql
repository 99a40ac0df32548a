-- Phase rules of the node-edge connectivity relationship (57_connectivity.sql):
-- mains against valves and hydrants, by the phase attribute 106 of the common
-- component. Like every interface rule they have a QTX_VINO; the attribute
-- validation service passes over them.
INSERT INTO QTX_ATTRVAL_OPTABLE (QTX_RULENO, QTX_ACTIVEFNO, QTX_ACTIVECNO, QTX_ACTIVEANO, QTX_ACTIVENAME,
    QTX_ACTIVEFIELDNAME, QTX_RELATEDFNO, QTX_RELATEDANO, QTX_RELATEDNAME, QTX_RELATEDFIELDNAME, QTX_OPERATOR,
    QTX_VALIDATIONVALUE, QTX_PRIORITY, QTX_OPERATIONTYPE, QTX_RELATIONSHIPTYPE, QTX_VINO, QTX_INTERFACE, QTX_PRJNO,
    QTX_MOUSEMOVECANDIDATEFILTER) VALUES
  (571, 101, 1, 106, 'COMMON_ATTR', 'PHASE_CODE', 102, 106, 'COMMON_ATTR', 'PHASE_CODE', NULL, NULL, 57, 1, 2, 4,
   'Ambrix.PhaseValidation', NULL, 0),
  (572, 101, 1, 106, 'COMMON_ATTR', 'PHASE_CODE', 103, 106, 'COMMON_ATTR', 'PHASE_CODE', NULL, NULL, 57, 1, 2, 4,
   'Ambrix.PhaseValidation', NULL, 0);

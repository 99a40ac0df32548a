-- Interface arguments in their stored form (docs/EXTENSIONS.md): "QXIA",
-- version 1, the lower bound and the count as 32-bit little-endian numbers,
-- then each argument as a type byte and its value. These rows replace the
-- plain-text arguments written with the attribute rows.

-- Pelmora.MainLength: the unit "m" (a text) and the precision 10 (a Long),
-- bounds 1 to 2.
UPDATE QTX_ATTRIBUTEINFOFI_OPTABLE
   SET QTX_INTERFACEARGUMENT = X'5158494101010000000200000008010000006D030A000000'
 WHERE QTX_CNO = 11 AND QTX_ANO = 1104;

-- Pelmora:ValveRules: the valve types "GATE" and "BUTTERFLY" and a Null
-- (no default), bounds 1 to 3.
UPDATE QTX_ATTRIBUTEINFOFI_OPTABLE
   SET QTX_INTERFACEARGUMENT = X'515849410101000000030000000804000000474154450809000000425554544552464C5901'
 WHERE QTX_CNO = 21 AND QTX_ANO = 2101;

#pragma once
// ADO 2.7 enumerations, with ADO's values.
#include <cstdint>

namespace ado {

enum CursorTypeEnum : int32_t {
    adOpenUnspecified = -1, adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3
};
enum CursorLocationEnum : int32_t { adUseNone = 1, adUseServer = 2, adUseClient = 3 };
enum LockTypeEnum : int32_t {
    adLockUnspecified = -1, adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3, adLockBatchOptimistic = 4
};
enum CommandTypeEnum : int32_t {
    adCmdUnspecified = -1, adCmdText = 1, adCmdTable = 2, adCmdStoredProc = 4, adCmdUnknown = 8,
    adCmdFile = 256, adCmdTableDirect = 512
};
enum ExecuteOptionEnum : int32_t { adOptionUnspecified = -1, adExecuteNoRecords = 128 };
enum DataTypeEnum : int32_t {
    adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6, adDate = 7,
    adBSTR = 8, adIDispatch = 9, adError = 10, adBoolean = 11, adVariant = 12, adIUnknown = 13, adDecimal = 14,
    adTinyInt = 16, adUnsignedTinyInt = 17, adUnsignedSmallInt = 18, adUnsignedInt = 19, adBigInt = 20,
    adUnsignedBigInt = 21, adFileTime = 64, adGUID = 72, adBinary = 128, adChar = 129, adWChar = 130,
    adNumeric = 131, adUserDefined = 132, adDBDate = 133, adDBTime = 134, adDBTimeStamp = 135,
    adChapter = 136, adPropVariant = 138, adVarNumeric = 139, adVarChar = 200, adLongVarChar = 201,
    adVarWChar = 202, adLongVarWChar = 203, adVarBinary = 204, adLongVarBinary = 205
};
enum FieldAttributeEnum : int32_t {
    adFldUnspecified = -1, adFldMayDefer = 0x2, adFldUpdatable = 0x4, adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10, adFldIsNullable = 0x20, adFldMayBeNull = 0x40, adFldLong = 0x80, adFldRowID = 0x100,
    adFldRowVersion = 0x200, adFldCacheDeferred = 0x1000, adFldIsChapter = 0x2000,
    adFldNegativeScale = 0x4000, adFldKeyColumn = 0x8000, adFldIsRowURL = 0x10000,
    adFldIsDefaultStream = 0x20000, adFldIsCollection = 0x40000
};
enum FilterGroupEnum : int32_t {
    adFilterNone = 0, adFilterPendingRecords = 1, adFilterAffectedRecords = 2, adFilterFetchedRecords = 3,
    adFilterConflictingRecords = 5
};
enum RecordStatusEnum : int32_t {
    adRecOK = 0, adRecNew = 0x1, adRecModified = 0x2, adRecDeleted = 0x4, adRecUnmodified = 0x8,
    adRecInvalid = 0x10, adRecMultipleChanges = 0x40, adRecPendingChanges = 0x80, adRecCanceled = 0x100,
    adRecCantRelease = 0x400, adRecConcurrencyViolation = 0x800, adRecIntegrityViolation = 0x1000,
    adRecMaxChangesExceeded = 0x2000, adRecObjectOpen = 0x4000, adRecOutOfMemory = 0x8000,
    adRecPermissionDenied = 0x10000, adRecSchemaViolation = 0x20000, adRecDBDeleted = 0x40000
};
enum EditModeEnum : int32_t { adEditNone = 0, adEditInProgress = 1, adEditAdd = 2, adEditDelete = 4 };
enum EventReasonEnum : int32_t {
    adRsnAddNew = 1, adRsnDelete = 2, adRsnUpdate = 3, adRsnUndoUpdate = 4, adRsnUndoAddNew = 5,
    adRsnUndoDelete = 6, adRsnRequery = 7, adRsnResynch = 8, adRsnClose = 9, adRsnMove = 10,
    adRsnFirstChange = 11, adRsnMoveFirst = 12, adRsnMoveNext = 13, adRsnMovePrevious = 14, adRsnMoveLast = 15
};
enum EventStatusEnum : int32_t {
    adStatusOK = 1, adStatusErrorsOccurred = 2, adStatusCantDeny = 3, adStatusCancel = 4, adStatusUnwantedEvent = 5
};
enum BookmarkEnum : int32_t { adBookmarkCurrent = 0, adBookmarkFirst = 1, adBookmarkLast = 2 };
enum AffectEnum : int32_t { adAffectCurrent = 1, adAffectGroup = 2, adAffectAll = 3, adAffectAllChapters = 4 };
enum SearchDirectionEnum : int32_t { adSearchForward = 1, adSearchBackward = -1 };
enum ParameterDirectionEnum : int32_t {
    adParamUnknown = 0, adParamInput = 1, adParamOutput = 2, adParamInputOutput = 3, adParamReturnValue = 4
};
enum ObjectStateEnum : int32_t {
    adStateClosed = 0, adStateOpen = 1, adStateConnecting = 2, adStateExecuting = 4, adStateFetching = 8
};
enum PositionEnum : int32_t { adPosUnknown = -1, adPosBOF = -2, adPosEOF = -3 };
enum ResyncEnum : int32_t { adResyncUnderlyingValues = 1, adResyncAllValues = 2 };
enum PersistFormatEnum : int32_t { adPersistADTG = 0, adPersistXML = 1 };
enum ParameterAttributesEnum : int32_t { adParamSigned = 0x10, adParamNullable = 0x40, adParamLong = 0x80 };

// ADO's error numbers, as Err.Number reports them (ADO's ErrorValueEnum), and
// the two OLE DB errors a client cursor passes through for rows.
namespace err {
inline constexpr int32_t ProviderFailed = static_cast<int32_t>(0x800A0BB8);      // 3000
inline constexpr int32_t InvalidArgument = static_cast<int32_t>(0x800A0BB9);     // 3001
inline constexpr int32_t OpeningFile = static_cast<int32_t>(0x800A0BBA);         // 3002
inline constexpr int32_t ReadFile = static_cast<int32_t>(0x800A0BBB);            // 3003
inline constexpr int32_t WriteFile = static_cast<int32_t>(0x800A0BBC);           // 3004
inline constexpr int32_t NoCurrentRecord = static_cast<int32_t>(0x800A0BCD);     // 3021
inline constexpr int32_t IllegalOperation = static_cast<int32_t>(0x800A0C93);    // 3219
inline constexpr int32_t CantChangeProvider = static_cast<int32_t>(0x800A0C94);  // 3220
inline constexpr int32_t NotSupported = static_cast<int32_t>(0x800A0CB3);        // 3251 adErrFeatureNotAvailable
inline constexpr int32_t ItemNotFound = static_cast<int32_t>(0x800A0CC1);        // 3265
inline constexpr int32_t ObjectInCollection = static_cast<int32_t>(0x800A0D27);  // 3367
inline constexpr int32_t ObjectNotSet = static_cast<int32_t>(0x800A0D5C);        // 3420
inline constexpr int32_t DataConversion = static_cast<int32_t>(0x800A0D5D);      // 3421
inline constexpr int32_t ObjectClosed = static_cast<int32_t>(0x800A0E78);        // 3704
inline constexpr int32_t ObjectOpen = static_cast<int32_t>(0x800A0E79);          // 3705
inline constexpr int32_t ProviderNotFound = static_cast<int32_t>(0x800A0E7A);    // 3706
inline constexpr int32_t BoundToCommand = static_cast<int32_t>(0x800A0E7B);      // 3707
inline constexpr int32_t InvalidParamInfo = static_cast<int32_t>(0x800A0E7C);    // 3708
inline constexpr int32_t InvalidConnection = static_cast<int32_t>(0x800A0E7D);   // 3709
inline constexpr int32_t NotReentrant = static_cast<int32_t>(0x800A0E7E);        // 3710
inline constexpr int32_t OperationCancelled = static_cast<int32_t>(0x800A0E80);  // 3712
inline constexpr int32_t DataOverflow = static_cast<int32_t>(0x800A0E89);        // 3721
inline constexpr int32_t CantChangeConnection = static_cast<int32_t>(0x800A0EA4);  // 3748
// A recordset that cannot be written (read-only lock) refuses writes with 3251.
inline constexpr int32_t FieldNotUpdatable = NotSupported;
// OLE DB: a bookmark that names no row of the recordset (DB_E_BADBOOKMARK).
inline constexpr int32_t InvalidBookmark = static_cast<int32_t>(0x80040E0E);
// OLE DB: the row was deleted (DB_E_DELETEDROW); its values are read through OriginalValue.
inline constexpr int32_t RowDeleted = static_cast<int32_t>(0x80040E23);
// OLE DB: a multiple-step operation failed (DB_E_ERRORSOCCURRED), e.g. a value that was no value.
inline constexpr int32_t ErrorsOccurred = static_cast<int32_t>(0x80040E21);
}  // namespace err

}  // namespace ado

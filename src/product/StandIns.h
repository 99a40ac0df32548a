#pragma once
// The product's message, trace and dialog objects, the sibling library's
// application hook and the window calls, as this repository stands them in.
//
// ProgIDs (see src/interfaces): "QTX.Messages", "QTX.Trace", "QTX.Dialog".
//
// Environment:
//   PELMORA_MESSAGES_DIR  directory of the message catalogues (<MODULE>.txt);
//                         else $PELMORA_SOURCE_DIR/data/messages; else the
//                         catalogues built into the library
//   PELMORA_LOCALE        the locale code (default "ENU")
//   PELMORA_TRACE_MASK    the trace mask, decimal or 0x-hex (default 0)
//   PELMORA_TRACE_FILE    file the trace lines are appended to (default stderr)
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/Corvane.h"
#include "interfaces/Varsk1.h"
#include "interfaces/Windows.h"
#include "runtime/Object.h"

namespace product {

// Registers the message, trace and dialog objects under their ProgIDs and
// binds the sibling libraries' functions and the window calls.
void RegisterProductStandIns();

// Installs the desktop application object GetYvApplicationDispatch returns
// (nullptr: none, the default).
void SetApplication(std::shared_ptr<rt::Object> application);
std::shared_ptr<rt::Object> Application();

// The sibling libraries' functions and the window calls as the product
// implements them; RegisterProductStandIns binds them.
varsk1::Exports Varsk1Exports();
win::Exports WindowExports();
pelmora::CorvaneExports CorvaneLibrary();

// What a headless message box showed.
struct DialogRecord {
    std::string kind;   // "dialog" (the dialog object) or "system" (a plain message box)
    std::string title;
    int32_t buttons = 0;
    std::string text;
    std::string details;  // the details object's text, if one was given
    int32_t answer = 0;
};

// Catches the message boxes of the process instead of standard error, and
// may script the answer (otherwise the box's default button answers).
class DialogRecorder {
public:
    std::vector<DialogRecord> records;
    std::optional<int32_t> answer;
};
// nullptr removes the recorder.
void InstallDialogRecorder(std::shared_ptr<DialogRecorder> recorder);

// The answer a box with these buttons gives when nobody is there to choose:
// its default button.
int32_t DefaultAnswer(int32_t buttons);

// The directory the message catalogues are read from ("": built in).
std::string MessageCatalogueDirectory();

// A data directory: $<variable> when set, else $PELMORA_SOURCE_DIR/data/<name>,
// else "": the files built into the library (EmbeddedData.h).
std::string SourceDataDirectory(const char* variable, const std::string& name);
// For an error about directory: " (from VARIABLE=value; ...)" naming the
// variable to mend when SourceDataDirectory(variable, name) gave it, else "".
std::string DataDirectoryOrigin(const char* variable, const std::string& name, const std::string& directory);

// Reads a catalogue: lines "<id><TAB><text>", '#' starts a comment line,
// "\n", "\t" and "\\" escapes in the text. Raises on a malformed line or a
// repeated id; errors name the file by nameForErrors.
std::map<int32_t, std::string> ParseMessageCatalogue(const std::string& text, const std::string& nameForErrors);
// The same of a catalogue file.
std::map<int32_t, std::string> ReadMessageCatalogue(const std::string& path);

// Fills "%1".."%5" of a template (single pass: a parameter's own text is
// never filled again).
std::string FillPlaceholders(const std::string& templ, const std::string (&params)[5]);

}  // namespace product

// File choosers of the module's windows. Every window asks for a file name
// through ChooseFile, never through QFileDialog directly, so a test installs
// a hook that answers at once and no modal chooser ever blocks it.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace selvo {

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
  TFileDialogKind kind = TFileDialogKind::Open;
  std::string title;
  // Pairs of description and masks, all joined by '|', masks of one entry by
  // ';': "Текстовый файл (*.txt)|*.txt|Все файлы (*.*)|*.*".
  std::string filter;
  // Extension without the dot, added to a name typed without one.
  std::string defaultExt;
  // The name proposed in the name field.
  std::string fileName;
  // The folder shown first; empty for the process's current folder.
  std::string initialDir;
  // Save: ask before an existing file is replaced.
  bool overwritePrompt = false;
  // Open: only an existing file may be chosen.
  bool fileMustExist = false;
};

// Shows a modal chooser owned by `parent` (may be null) and answers the
// chosen file name in UTF-8, or nothing when the operator cancelled. The
// process's current folder is never changed; the window that was active
// gets the keyboard back when the chooser closes (platform/QtModalFocus.h).
// With a hook installed the hook answers instead and nothing is shown.
std::optional<std::string> ChooseFile(QWidget* parent, const TFileDialogRequest& request);

// Answers a request in place of the chooser.
using TFileDialogHook = std::function<std::optional<std::string>(const TFileDialogRequest&)>;

// Installs a hook (an empty function removes it) and returns the one it
// replaces, so that a scope can put it back.
TFileDialogHook SetFileDialogHook(TFileDialogHook hook);

// The filter in the chooser's own form: "Текстовый файл (*.txt);;Все файлы (*)".
// A mask "*.*" becomes "*", so that names without an extension are listed too.
std::string FileDialogNameFilters(const std::string& filter);

}  // namespace selvo

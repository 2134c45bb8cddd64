#include "platform/QtFileDialogs.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

#include "platform/QtModalFocus.h"

namespace selvo {
namespace {

TFileDialogHook& Hook() {
  static TFileDialogHook hook;
  return hook;
}

std::vector<std::string> SplitBy(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The description without a trailing "(...)", which the chooser derives
// from the masks itself.
std::string DescriptionWithoutMasks(std::string description) {
  if (!description.empty() && description.back() == ')') {
    const auto open = description.rfind('(');
    if (open != std::string::npos) description.erase(open);
  }
  while (!description.empty() && description.back() == ' ') description.pop_back();
  return description;
}

}  // namespace

std::string FileDialogNameFilters(const std::string& filter) {
  if (filter.empty()) return {};
  const std::vector<std::string> parts = SplitBy(filter, '|');
  std::string result;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string masks;
    for (const std::string& mask : SplitBy(parts[i + 1], ';')) {
      if (mask.empty()) continue;
      if (!masks.empty()) masks += ' ';
      masks += mask == "*.*" ? "*" : mask;
    }
    if (!result.empty()) result += ";;";
    result += DescriptionWithoutMasks(parts[i]) + " (" + masks + ")";
  }
  return result;
}

TFileDialogHook SetFileDialogHook(TFileDialogHook hook) { return std::exchange(Hook(), std::move(hook)); }

std::optional<std::string> ChooseFile(QWidget* parent, const TFileDialogRequest& request) {
  if (Hook()) return Hook()(request);

  const TOpenerFocus opener;
  QFileDialog dialog(parent, QString::fromStdString(request.title), QString::fromStdString(request.initialDir),
                     QString::fromStdString(FileDialogNameFilters(request.filter)));
  const bool save = request.kind == TFileDialogKind::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save || !request.fileMustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front().toStdString();
}

}  // namespace selvo

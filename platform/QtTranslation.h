// Qt's own texts (the standard buttons of question boxes, file dialogs) in
// the operator's language. Header-only: the module and the host each create
// or reach the application object and install it there.
#pragma once

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QVariant>

namespace selvo {

// Loads Qt's Russian catalogue ("qtbase_ru" in Qt's translations folder) into
// `app`, once per application however often it is called; the translator
// belongs to `app`. Returns whether the catalogue is in place: without it the
// standard texts stay as Qt has them and nothing else changes.
inline bool InstallQtTranslation(QCoreApplication& app) {
  static constexpr const char* kInstalledProperty = "selvoQtTranslation";
  if (app.property(kInstalledProperty).toBool()) return true;
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  app.setProperty(kInstalledProperty, true);
  return true;
}

}  // namespace selvo

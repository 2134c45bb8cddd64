#include "platform/QtDateTimePickers.h"

#include <QKeyEvent>
#include <QLocale>

#include <cctype>

#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"

namespace selvo {
namespace {

bool StartsWithNoCase(std::string_view s, std::size_t i, std::string_view what) {
  if (s.size() - i < what.size()) return false;
  for (std::size_t k = 0; k < what.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != what[k]) return false;
  return true;
}

// Letters are format characters for Qt: anything else literal goes quoted.
void AppendLiteral(QString& out, const QString& text) {
  if (text.isEmpty()) return;
  bool letters = false;
  for (QChar c : text) letters = letters || c.isLetter() || c == QLatin1Char('\'');
  if (!letters) {
    out += text;
    return;
  }
  QString quoted = text;
  quoted.replace(QLatin1Char('\''), QLatin1String("''"));
  out += QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

QString QtDateTimeFormat(std::string_view f, const TFormatSettings& fs) {
  bool ampm = false;
  for (std::size_t k = 0; k < f.size(); ++k)
    ampm = ampm || StartsWithNoCase(f, k, "ampm") || StartsWithNoCase(f, k, "am/pm") || StartsWithNoCase(f, k, "a/p");
  QString out;
  bool lastWasHour = false;
  for (std::size_t i = 0; i < f.size();) {
    const char c = f[i];
    const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == lc) ++run;
    if (c == '\'' || c == '"') {
      std::size_t end = f.find(c, i + 1);
      if (end == std::string_view::npos) end = f.size();
      AppendLiteral(out, QString::fromUtf8(f.substr(i + 1, end - i - 1)));
      i = end + 1;
      continue;
    }
    if (StartsWithNoCase(f, i, "ampm") || StartsWithNoCase(f, i, "am/pm") || StartsWithNoCase(f, i, "a/p")) {
      out += StartsWithNoCase(f, i, "ampm") ? QLatin1String("AP") : QLatin1String("ap");
      i += StartsWithNoCase(f, i, "ampm") ? 4 : StartsWithNoCase(f, i, "am/pm") ? 5 : 3;
      continue;
    }
    const bool two = run >= 2;
    switch (lc) {
      case 'y': out += run <= 2 ? "yy" : "yyyy"; break;
      case 'm': out += lastWasHour ? (two ? "mm" : "m") : (two ? "MM" : "M"); break;
      case 'd': out += two ? "dd" : "d"; break;
      case 'h': out += ampm ? (two ? "hh" : "h") : (two ? "HH" : "H"); break;
      case 'n': out += two ? "mm" : "m"; break;
      case 's': out += two ? "ss" : "s"; break;
      case 'z': out += two ? "zzz" : "z"; break;
      case '/': AppendLiteral(out, QString(run, QChar::fromLatin1(fs.DateSeparator))); break;
      case ':': AppendLiteral(out, QString(run, QChar::fromLatin1(fs.TimeSeparator))); break;
      default: AppendLiteral(out, QString::fromUtf8(f.substr(i, run))); break;
    }
    // As the module's formatting: "m" right after an hour token is minutes;
    // separators and literals between them keep that.
    if (lc == 'h')
      lastWasHour = true;
    else if (std::string_view("ymdnsz").find(lc) != std::string_view::npos)
      lastWasHour = false;
    i += run;
  }
  return out;
}

bool TPickerTyping::Skip(const QDateTimeEdit*, const QKeyEvent* key) const {
  const QString text = key->text();
  return movedOn_ && text.size() == 1 && !text[0].isLetterOrNumber() && !text[0].isSpace();
}

void TPickerTyping::Typed(const QDateTimeEdit* picker, const QKeyEvent* key, int sectionBefore) {
  const QString text = key->text();
  movedOn_ = text.size() == 1 && text[0].isDigit() && picker->currentSectionIndex() != sectionBefore;
}

void TTimePicker::keyPressEvent(QKeyEvent* event) {
  if (typing_.Skip(this, event)) {
    typing_.Typed(this, event, currentSectionIndex());
    event->accept();
    return;
  }
  const int section = currentSectionIndex();
  QTimeEdit::keyPressEvent(event);
  typing_.Typed(this, event, section);
}

void TDatePicker::keyPressEvent(QKeyEvent* event) {
  if (typing_.Skip(this, event)) {
    typing_.Typed(this, event, currentSectionIndex());
    event->accept();
    return;
  }
  const int section = currentSectionIndex();
  QDateEdit::keyPressEvent(event);
  typing_.Typed(this, event, section);
}

TTimePicker::TTimePicker(QWidget* parent) : QTimeEdit(parent) {
  const TFormatSettings& fs = ModuleFormatSettings();
  setLocale(QLocale::c());
  setDisplayFormat(QtDateTimeFormat(fs.LongTimeFormat, fs));
  setWrapping(true);
}

double TTimePicker::Time() const { return time().msecsSinceStartOfDay() / 86400000.0; }

void TTimePicker::SetTime(double value) {
  const TTimeParts t = DecodeTime(value);
  setTime(QTime(t.hour, t.minute, t.second, t.msec));
}

TDatePicker::TDatePicker(QWidget* parent) : QDateEdit(parent) {
  const TFormatSettings& fs = ModuleFormatSettings();
  setLocale(QLocale::c());
  setDisplayFormat(QtDateTimeFormat(fs.ShortDateFormat, fs));
  setCalendarPopup(true);
  setDateRange(QDate(100, 1, 1), QDate(9999, 12, 31));
}

double TDatePicker::Date() const {
  const QDate d = date();
  return TryEncodeDate(d.year(), d.month(), d.day()).value_or(0);
}

void TDatePicker::SetDate(double value) {
  const TDateParts d = DecodeDate(value);
  const QDate date(d.year, d.month, d.day);
  if (date.isValid() && date >= minimumDate() && date <= maximumDate()) setDate(date);
}

}  // namespace selvo

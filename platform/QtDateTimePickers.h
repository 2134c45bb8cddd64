// Time and date pickers that show their value as the module's format
// settings write it (long time, short date), and take and give day-based
// doubles, so that a picker laid over a cell shows what the cell shows.
#pragma once

#include <QDateEdit>
#include <QString>
#include <QTimeEdit>

#include <string_view>

namespace selvo {

struct TFormatSettings;

// The Qt display format of a date-time pattern of the module's format
// settings ("hh:nn:ss" -> "HH:mm:ss", "dd.mm.yyyy" -> "dd.MM.yyyy",
// "h:nn:ss ampm" -> "h:mm:ss AP"); separators become the settings' own.
QString QtDateTimeFormat(std::string_view pattern, const TFormatSettings& fs);

// Typing into a picker: a part that is full moves on to the next one by
// itself, so a separator typed right after that is not taken as a second
// move ("08:30" and "0830" both give 08:30).
class TPickerTyping {
 public:
  // Answers whether the key is to be dropped; call before the picker's own
  // handling, and Typed after it.
  bool Skip(const QDateTimeEdit* picker, const QKeyEvent* key) const;
  void Typed(const QDateTimeEdit* picker, const QKeyEvent* key, int sectionBefore);

 private:
  bool movedOn_ = false;
};

// A time of day; wraps within its sections as a clock does.
class TTimePicker : public QTimeEdit {
  Q_OBJECT

 public:
  // Shows the module's long time format as it is when the picker is made.
  explicit TTimePicker(QWidget* parent = nullptr);
  // The time of day as a day fraction (0 <= t < 1), to the millisecond.
  double Time() const;
  // Takes the time part of a day-based value.
  void SetTime(double time);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TPickerTyping typing_;
};

// A date with a drop-down calendar (Alt+Down or F4 opens it).
class TDatePicker : public QDateEdit {
  Q_OBJECT

 public:
  explicit TDatePicker(QWidget* parent = nullptr);
  // The date as a day-based double (whole days since 30 December 1899).
  double Date() const;
  // Takes the date part of a day-based value; a value outside the picker's
  // range (1 January 100 to 31 December 9999) leaves the date unchanged.
  void SetDate(double date);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TPickerTyping typing_;
};

}  // namespace selvo

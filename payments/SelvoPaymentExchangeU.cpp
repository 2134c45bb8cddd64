// TSelvoPaymentList::ExportToFile and ImportFromFile, and the exchange file format.
//
// Numbers in the file always use a full stop. The module's format settings
// are never changed for that: they also govern how discount lists are stored,
// and switching them process-wide would make lists stored afterwards
// unreadable once the process starts again under another separator.
#include "payments/SelvoPaymentExchangeU.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "payments/SelvoPaymentListU.h"
#include "platform/FileIO.h"
#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"
#include "state/SelvoModuleU.h"

namespace selvo {
namespace {

TFormatSettings FullStopSettings() {
  TFormatSettings fs;
  fs.DecimalSeparator = '.';
  return fs;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Shows a message and swallows whatever the message service raises: the
// exchange operations never let an error reach their caller. When the service
// fails, the console gets the message instead.
void TellOperator(const std::string& text, const char* caption, TMsgIcon icon) noexcept {
  try {
    ShowMessageBox(text, caption, icon);
    return;
  } catch (...) {
  }
  try {
    TMessage message;
    message.caption = caption;
    message.text = text;
    message.icon = icon;
    TConsoleMessageService().Show(message);
  } catch (...) {
  }
}

std::string ReasonOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "неизвестная ошибка";
  }
}

std::string ReadExchangeFile(const std::string& fileName) {
  std::string bytes;
  if (int rc = ReadWholeFile(fileName, bytes); rc != 0) {
    throw EPaymentExchangeError("Не удается открыть файл " + Quoted(fileName) + ". " + FileErrorText(rc));
  }
  return bytes;
}

// Replaces the file in one step: a refused write leaves the old file whole.
void WriteExchangeFile(const std::string& fileName, const std::string& bytes) {
  if (int rc = ReplaceWholeFile(fileName, bytes); rc != 0) {
    throw EPaymentExchangeError("Ошибка записи в файл " + Quoted(fileName) + ". " + FileErrorText(rc));
  }
}

// A name holding a TAB or a line break would split its record into other
// fields or lines, and the import would read a different payment type from
// it; such characters are written as blanks.
std::string ExchangeName(const TPaymentRec& rec) {
  std::string name = PaymentRecName(rec);
  for (char& c : name)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return name;
}

std::string ExchangeLine(const TPaymentRec& rec) {
  return ExchangeName(rec) + "\t" + std::to_string(rec.Type) + "\t" + std::to_string(rec.Check) + "\t" +
         FormatExchangeNumber(rec.Discount) + "\t" + (rec.Enabled ? "1" : "0");
}

bool IsEditing(const TDataSet& ds) {
  return ds.State() == TDataSetState::dsEdit || ds.State() == TDataSetState::dsInsert;
}

std::string AlreadyPresentQuestion(const std::string& name) {
  return "Вид оплаты " + Quoted(name) + " уже есть. Хотите загрузить свойства\r\nданного вида оплаты из файла импорта?";
}

}  // namespace

std::vector<std::string> SplitExchangeFields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string_view::npos; start = tab + 1)
    fields.emplace_back(line.substr(start, tab - start));
  if (start < line.size()) fields.emplace_back(line.substr(start));
  return fields;
}

std::string FormatExchangeNumber(double value) { return FloatToStrFixed(value, 2, FullStopSettings()); }

std::string ExchangeNumberToModuleText(const std::string& text, const TFormatSettings& fs,
                                       const std::string& fieldName) {
  if (TryStrToFloat(text, FullStopSettings())) {
    std::string converted = text;
    for (char& c : converted)
      if (c == '.') c = fs.DecimalSeparator;
    return converted;
  }
  if (fs.DecimalSeparator != '.' && text.find(fs.DecimalSeparator) != std::string::npos && TryStrToFloat(text, fs)) {
    throw EConvertError("'" + text + "' не является допустимым числом с плавающей точкой для поля '" + fieldName + "'");
  }
  return text;
}

// ---------------------------------------------------------------------------

void TSelvoPaymentList::ExportToFile(const std::string& fileName) {
  try {
    std::string body;
    for (const TPaymentRec* rec : items_) body += ExchangeLine(*rec) + "\r\n";
    if (body.empty()) throw EPaymentExchangeError("Виды оплаты, доступные для экспорта, отсутствуют!");
    WriteExchangeFile(fileName, Utf8ToCp1251(std::string(kPaymentExchangeHeader) + "\r\n" + body));
  } catch (...) {
    TellOperator("Невозможно экспортировать виды оплаты. Причина ошибки: " + ReasonOf(std::current_exception()),
                 kErrorAlarmCaption, TMsgIcon::Exclamation);
    return;
  }
  TellOperator("Виды оплаты сохранены в файле " + Quoted(fileName), kMessageCaption, TMsgIcon::Information);
}

void TSelvoPaymentList::ImportFromFile(const std::string& fileName) {
  TDataSet* ds = nullptr;
  try {
    const std::string text = Cp1251ToUtf8(ReadExchangeFile(fileName));
    const std::vector<std::string_view> lines = SplitLines(text);
    if (lines.empty()) throw EPaymentExchangeError("Файл " + Quoted(fileName) + " пуст!");
    if (lines.front() != kPaymentExchangeHeader) {
      throw EPaymentExchangeError("Файл " + Quoted(fileName) + " имеет недопустимый формат для хранения видов оплаты!");
    }

    ds = &PaymentDataSet();
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> fields = SplitExchangeFields(lines[i]);
      if (IsEditing(*ds)) ds->Cancel();
      if (fields.size() != 5 || Trim(fields[0]).empty()) continue;
      const std::string& name = fields[0];
      // A NUL would end the name wherever it is stored as a C string.
      if (const std::size_t nul = name.find('\0'); nul != std::string::npos) {
        throw EPaymentExchangeError("Название вида оплаты " + Quoted(name.substr(0, nul)) +
                                    " в файле содержит недопустимый символ NUL!");
      }

      if (ds->Locate("Name", {TVariant(name)}, loCaseInsensitive)) {
        TMessage question;
        question.caption = kConfirmCaption;
        question.text = AlreadyPresentQuestion(name);
        question.icon = TMsgIcon::Question;
        question.buttons = TMsgButtons::YesNoCancel;
        const TModalResult answer = Messages().Show(question);
        if (answer == TModalResult::mrNo) continue;
        if (answer != TModalResult::mrYes) {
          throw EPaymentExchangeError("Операция прервана на виде оплаты " + Quoted(name) + "!");
        }
        ds->Edit();
      }
      if (ds->State() != TDataSetState::dsEdit) ds->Append();

      TField& id = ds->FieldByName("ID");
      if (id.IsNull()) id.SetAsInteger(NewID());

      try {
        ds->FieldByName("Name").SetAsString(fields[0]);
        ds->FieldByName("Type").SetAsString(fields[1]);
        ds->FieldByName("Check").SetAsString(fields[2]);
        TField& discount = ds->FieldByName("Discount");
        discount.SetAsString(ExchangeNumberToModuleText(fields[3], ModuleFormatSettings(), discount.FieldName()));
        // A percentage the editor would refuse is not stored from a file
        // either: the list would refuse it at its next loading.
        const double percent = discount.AsFloat();
        if (!std::isfinite(percent) || percent < 0 || percent > 100) {
          throw EPaymentExchangeError("Скидка вида оплаты " + Quoted(name) + " (" + fields[3] +
                                      ") вне пределов от 0 до 100 %!");
        }
        ds->FieldByName("Enabled").SetAsString(fields[4]);
      } catch (...) {
        ds->Cancel();
        throw;
      }
      if (ds->Modified())
        ds->Post();
      else
        ds->Cancel();

      // The list must hold the row just posted before the next NewID.
      selvo::FillPaymentsList();
    }
  } catch (...) {
    const std::string reason = ReasonOf(std::current_exception());
    // A row left half-assigned (a post that failed) must not be stored later
    // by the next completion of the dataset.
    try {
      if (ds && IsEditing(*ds)) ds->Cancel();
    } catch (...) {
    }
    TellOperator("Невозможно импортировать виды оплаты. Причина ошибки: " + reason, kErrorAlarmCaption,
                 TMsgIcon::Exclamation);
    return;
  }
  TellOperator("Импорт видов оплат завершен!", kMessageCaption, TMsgIcon::Information);
}

}  // namespace selvo

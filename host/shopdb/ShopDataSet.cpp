#include "host/shopdb/ShopDataSet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <set>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

const TVariant kNull;

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal integer text: optional blanks, an optional sign, digits.
std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::int64_t value = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
  return value;
}

// The row key the database answered: an integer, or the table and its key
// column named (a table made elsewhere may give its key another type).
std::int64_t RowKey(const TVariant& key, const std::string& table) {
  if (const auto* number = std::get_if<std::int64_t>(&key)) return *number;
  throw EDatabaseError("таблица " + table + ": столбец rowid должен быть целым числом, а хранит другой тип");
}

std::string VariantText(const TVariant& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* real = std::get_if<double>(&value)) return FloatToStr(*real, ModuleFormatSettings());
  if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
  return "NULL";
}

bool FitsInt32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// Rounds as the host platform's Round does: halves to the even neighbour.
std::optional<std::int32_t> RoundToInt32(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double r = std::nearbyint(value);
  if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(r);
}

[[noreturn]] void BadValue(const std::string& text, const char* what, const std::string& field) {
  throw EConvertError("'" + text + "' не является допустимым " + what + " для поля '" + field + "'");
}
constexpr const char* kIntegerWhat = "целым числом";
constexpr const char* kFloatWhat = "числом с плавающей точкой";
constexpr const char* kDateTimeWhat = "значением даты и времени";

// A number text under the module's format settings. A full stop is taken as
// the decimal separator too when the settings do not use it for thousands:
// the module writes exchange texts with a full stop whatever the locale, and
// the host, loaded apart from the module, cannot see its settings change.
std::optional<double> TextToFloat(std::string_view text) {
  const TFormatSettings& fs = ModuleFormatSettings();
  if (auto d = TryStrToFloat(text, fs)) return d;
  if (fs.DecimalSeparator != '.' && fs.ThousandSeparator != '.') {
    TFormatSettings fullStop = fs;
    fullStop.DecimalSeparator = '.';
    return TryStrToFloat(text, fullStop);
  }
  return std::nullopt;
}

std::string ValueText(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return FloatToStr(*d, ModuleFormatSettings());
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return std::string();
}

// A value as a number, if it is one or is a text of one.
struct TNumber {
  bool isInteger;
  std::int64_t i;
  double d;
};
std::optional<TNumber> ValueNumber(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return TNumber{true, *i, static_cast<double>(*i)};
  if (const auto* d = std::get_if<double>(&v)) return TNumber{false, 0, *d};
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto i = ParseInteger(*s)) return TNumber{true, *i, static_cast<double>(*i)};
    if (auto d = TextToFloat(*s)) return TNumber{false, 0, *d};
  }
  return std::nullopt;
}

bool NumbersEqual(const TNumber& a, const TNumber& b) {
  if (a.isInteger && b.isInteger) return a.i == b.i;
  return a.d == b.d;
}

// The integer key of a master-detail link value, if it has one.
std::optional<std::int64_t> LinkKey(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.2e18) return static_cast<std::int64_t>(*d);
    return std::nullopt;
  }
  if (const auto* s = std::get_if<std::string>(&v)) return ParseInteger(*s);
  return std::nullopt;
}

bool KeyMatches(const TVariant& stored, const TVariant& key, TFieldKind kind, unsigned options) {
  if (std::holds_alternative<std::monostate>(key)) return std::holds_alternative<std::monostate>(stored);
  if (std::holds_alternative<std::monostate>(stored)) return false;
  if (kind != TFieldKind::Text) {
    auto a = ValueNumber(stored);
    auto b = ValueNumber(key);
    if (a && b) return NumbersEqual(*a, *b);
    if (b && !a) return false;  // a number never equals a text that is none
    if (!b) return false;       // a key that does not convert matches nothing
  }
  // Two texts, whole, letter case ignored: the common lookup of a name
  // (an import looks up every row's name), compared without copies.
  // Folding keeps a character's UTF-8 length, so lengths that differ
  // cannot match.
  const auto* storedText = std::get_if<std::string>(&stored);
  const auto* keyText = std::get_if<std::string>(&key);
  if (storedText && keyText && (options & loCaseInsensitive) && !(options & loPartialKey))
    return storedText->size() == keyText->size() && SameText(*storedText, *keyText);
  std::string a = ValueText(stored);
  std::string b = ValueText(key);
  if (options & loCaseInsensitive) {
    a = LowerCase(a);
    b = LowerCase(b);
  }
  if (options & loPartialKey) return a.compare(0, b.size(), b) == 0;
  return a == b;
}

std::vector<std::string> SplitKeyFields(const std::string& keyFields) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= keyFields.size()) {
    std::size_t end = keyFields.find(';', start);
    if (end == std::string::npos) end = keyFields.size();
    std::string name(TrimBlanks(std::string_view(keyFields).substr(start, end - start)));
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// TShopField

TShopField::TShopField(TShopDataSet& dataSet, int index, std::string name, TFieldKind kind)
    : dataSet_(dataSet), index_(index), name_(std::move(name)), kind_(kind) {}

const TVariant& TShopField::Value() const { return dataSet_.CurrentValue(index_); }

bool TShopField::IsNull() const { return std::holds_alternative<std::monostate>(Value()); }

std::int32_t TShopField::AsInteger() const {
  const TVariant& v = Value();
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    if (!FitsInt32(*i)) BadValue(std::to_string(*i), kIntegerWhat, name_);
    return static_cast<std::int32_t>(*i);
  }
  if (const auto* d = std::get_if<double>(&v)) {
    if (auto r = RoundToInt32(*d)) return *r;
    BadValue(FloatToStr(*d, ModuleFormatSettings()), kIntegerWhat, name_);
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    auto i = ParseInteger(*s);
    if (!i || !FitsInt32(*i)) BadValue(*s, kIntegerWhat, name_);
    return static_cast<std::int32_t>(*i);
  }
  return 0;
}

double TShopField::AsFloat() const {
  const TVariant& v = Value();
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto d = TextToFloat(*s)) return *d;
    BadValue(*s, kFloatWhat, name_);
  }
  return 0;
}

double TShopField::AsDateTime() const {
  const TVariant& v = Value();
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto d = TryStrToDateTime(*s, ModuleFormatSettings())) return *d;
    if (auto d = TextToFloat(*s)) return *d;
    BadValue(*s, kDateTimeWhat, name_);
  }
  return AsFloat();
}

std::string TShopField::AsString() const { return ValueText(Value()); }

void TShopField::SetAsInteger(std::int32_t value) {
  switch (kind_) {
    case TFieldKind::Integer: dataSet_.SetCurrentValue(index_, TVariant(std::int64_t{value})); break;
    case TFieldKind::Real: dataSet_.SetCurrentValue(index_, TVariant(static_cast<double>(value))); break;
    case TFieldKind::Text: dataSet_.SetCurrentValue(index_, TVariant(std::to_string(value))); break;
  }
}

void TShopField::SetAsFloat(double value) {
  switch (kind_) {
    case TFieldKind::Integer: {
      dataSet_.CheckActive();
      auto r = RoundToInt32(value);
      if (!r) BadValue(FloatToStr(value, ModuleFormatSettings()), kIntegerWhat, name_);
      dataSet_.SetCurrentValue(index_, TVariant(std::int64_t{*r}));
      break;
    }
    case TFieldKind::Real: dataSet_.SetCurrentValue(index_, TVariant(value)); break;
    case TFieldKind::Text: dataSet_.SetCurrentValue(index_, TVariant(FloatToStr(value, ModuleFormatSettings()))); break;
  }
}

void TShopField::SetAsDateTime(double value) {
  if (kind_ == TFieldKind::Text)
    dataSet_.SetCurrentValue(index_, TVariant(DateTimeToStr(value, ModuleFormatSettings())));
  else
    SetAsFloat(value);
}

void TShopField::SetAsString(const std::string& value) {
  if (kind_ == TFieldKind::Text) {
    dataSet_.SetCurrentValue(index_, TVariant(value));
    return;
  }
  dataSet_.CheckActive();
  if (value.empty()) {
    dataSet_.SetCurrentValue(index_, TVariant());
    return;
  }
  if (kind_ == TFieldKind::Integer) {
    auto i = ParseInteger(value);
    if (!i || !FitsInt32(*i)) BadValue(value, kIntegerWhat, name_);
    dataSet_.SetCurrentValue(index_, TVariant(*i));
  } else {
    auto d = TextToFloat(value);
    if (!d) BadValue(value, kFloatWhat, name_);
    dataSet_.SetCurrentValue(index_, TVariant(*d));
  }
}

void TShopField::SetNull() { dataSet_.SetCurrentValue(index_, TVariant()); }

// ---------------------------------------------------------------------------
// TShopDataSet: columns, state

TShopDataSet::TShopDataSet(TShopDataModule& module, std::string name, std::string table)
    : module_(module), name_(std::move(name)), table_(std::move(table)) {
  for (TColumnInfo& column : module_.Connection().Columns(table_)) {
    // Fields are named as the shop spells them on a database that keeps
    // its names in lower case.
    if (module_.Connection().FoldsNames()) column.name = ShopColumnSpelling(name_, column.name);
    const int index = static_cast<int>(fields_.size());
    fieldIndex_.emplace(LowerCase(column.name), index);
    exactIndex_.emplace(column.name, index);
    fields_.push_back(std::make_unique<TShopField>(*this, index, std::move(column.name), column.kind));
  }
  if (fields_.empty()) throw EDatabaseError(name_ + ": в базе данных нет таблицы " + table_);
  if (const TTableDef* shopTable = FindShopTable(table_)) {
    for (const TColumnDef& column : shopTable->columns) {
      if (!column.unique) continue;
      if (const TShopField* field = Lookup(column.name)) keyField_ = field->Index();
      break;
    }
  }
}

TShopDataSet::~TShopDataSet() {
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (TShopDataSet* detail : details_) detail->master_ = nullptr;
}

void TShopDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(name_ + ": набор данных закрыт");
}

const TVariant& TShopDataSet::CurrentValue(int field) const {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
    return buffer_[static_cast<std::size_t>(field)];
  if (cur_ < 0) return kNull;
  return view_[static_cast<std::size_t>(cur_)]->values[static_cast<std::size_t>(field)];
}

void TShopDataSet::SetCurrentValue(int field, TVariant value) {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError(name_ + ": набор данных не в режиме редактирования или добавления");
  buffer_[static_cast<std::size_t>(field)] = std::move(value);
  modified_ = true;
  // A detail follows its master's link field as soon as it is assigned.
  for (TShopDataSet* detail : details_)
    if (detail->masterLinkField_ == field) detail->MasterChanged();
}

void TShopDataSet::CheckBrowseMode() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (modified_)
    Post();
  else
    Cancel();
}

TShopField* TShopDataSet::Lookup(const std::string& name) const {
  if (auto exact = exactIndex_.find(name); exact != exactIndex_.end())
    return fields_[static_cast<std::size_t>(exact->second)].get();
  auto it = fieldIndex_.find(LowerCase(name));
  return it == fieldIndex_.end() ? nullptr : fields_[static_cast<std::size_t>(it->second)].get();
}

void TShopDataSet::FieldNotFound(const std::string& name) const {
  throw EDatabaseError(name_ + ": поле '" + name + "' не найдено");
}

TField& TShopDataSet::FieldByName(const std::string& name) {
  TShopField* field = Lookup(name);
  if (!field) FieldNotFound(name);
  return *field;
}

TField* TShopDataSet::FindField(const std::string& name) { return Lookup(name); }

// ---------------------------------------------------------------------------
// Open, close, the rows presented

std::string TShopDataSet::ColumnList() const {
  std::string list;
  for (const auto& field : fields_)
    list += (list.empty() ? "" : ", ") + module_.Connection().Identifier(field->FieldName());
  return list;
}

void TShopDataSet::LoadRows() {
  const std::string sql =
      "SELECT rowid, " + ColumnList() + " FROM " + module_.Connection().Identifier(table_) + " ORDER BY rowid";
  std::vector<TRowPtr> rows;
  try {
    module_.Connection().Query(sql, {}, [&](std::vector<TVariant>& values) {
      auto row = std::make_shared<TRow>();
      row->rowid = RowKey(values[0], table_);
      row->values.assign(std::make_move_iterator(values.begin() + 1), std::make_move_iterator(values.end()));
      rows.push_back(std::move(row));
    });
    RefuseRepeatedKeys(rows);
  } catch (EDatabaseError& e) {
    e.SetMessage(name_ + ": не удалось прочитать таблицу " + table_ + ": " + e.Message());
    throw;
  }
  rows_ = std::move(rows);
}

void TShopDataSet::RefuseRepeatedKeys(const std::vector<TRowPtr>& rows) const {
  // A table made elsewhere may lack the shop's unique keys: two rows of one
  // identifier would make one card of two, and an edit of the second would
  // overwrite the first.
  if (keyField_ < 0) return;
  const auto index = static_cast<std::size_t>(keyField_);
  std::set<TVariant> seen;
  for (const TRowPtr& row : rows) {
    const TVariant& key = row->values[index];
    if (std::holds_alternative<std::monostate>(key) || seen.insert(key).second) continue;
    throw EDatabaseError(
        "идентификатор " + VariantText(key) + " записан в столбце " + fields_[index]->FieldName() + " дважды",
        TDatabaseErrorKind::Corrupt);
  }
}

void TShopDataSet::Open() {
  if (Active()) return;
  LoadRows();
  state_ = TDataSetState::dsBrowse;
  linkIndexValid_ = false;
  RebuildView();
  NotifyDetails();
}

void TShopDataSet::Close() {
  if (!Active()) return;
  state_ = TDataSetState::dsInactive;
  rows_.clear();
  view_.clear();
  cur_ = -1;
  eof_ = true;
  buffer_.clear();
  modified_ = false;
  log_.clear();
  applied_.clear();
  renumbered_.clear();
  linkIndex_.clear();
  linkIndexValid_ = false;
  NotifyDetails();
}

bool TShopDataSet::LinkValue(std::int64_t& key) const {
  if (!master_ || !master_->Active() || masterLinkField_ < 0) return false;
  const TVariant& value = master_->CurrentValue(masterLinkField_);
  auto k = LinkKey(value);
  if (!k) return false;
  key = *k;
  return true;
}

void TShopDataSet::RebuildLinkIndex() {
  linkIndex_.clear();
  for (const TRowPtr& row : rows_)
    if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) linkIndex_[*k].push_back(row);
  linkIndexValid_ = true;
}

void TShopDataSet::RebuildView() {
  view_.clear();
  if (!master_) {
    view_.reserve(rows_.size());
    for (const TRowPtr& row : rows_) view_.push_back(row);
  } else if (std::int64_t key = 0; LinkValue(key)) {
    if (!linkIndexValid_) RebuildLinkIndex();
    auto it = linkIndex_.find(key);
    if (it != linkIndex_.end()) view_ = it->second;
  }
  cur_ = view_.empty() ? -1 : 0;
  eof_ = view_.empty();
}

void TShopDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  RebuildView();
  NotifyDetails();
}

void TShopDataSet::NotifyDetails() {
  for (TShopDataSet* detail : details_) detail->MasterChanged();
}

void TShopDataSet::SetMaster(TShopDataSet* master, const std::string& linkField) {
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  master_ = nullptr;
  linkField_ = masterLinkField_ = -1;
  if (master) {
    TShopField* own = Lookup(linkField);
    TShopField* theirs = master->Lookup(linkField);
    if (!own) FieldNotFound(linkField);
    if (!theirs) master->FieldNotFound(linkField);
    master_ = master;
    linkField_ = own->Index();
    masterLinkField_ = theirs->Index();
    master->details_.push_back(this);
  }
  linkIndexValid_ = false;
  if (Active()) {
    CheckBrowseMode();
    RebuildView();
  }
}

// ---------------------------------------------------------------------------
// Navigation

void TShopDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  cur_ = view_.empty() ? -1 : 0;
  eof_ = view_.empty();
  NotifyDetails();
}

void TShopDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  if (cur_ + 1 < static_cast<int>(view_.size())) {
    ++cur_;
    eof_ = false;
    NotifyDetails();
  } else {
    eof_ = true;
  }
}

bool TShopDataSet::Eof() const {
  if (!Active()) return true;
  if (state_ == TDataSetState::dsInsert) return false;
  return eof_;
}

bool TShopDataSet::IsEmpty() const {
  if (!Active()) return true;
  if (state_ == TDataSetState::dsInsert) return false;
  return view_.empty();
}

int TShopDataSet::RecordCount() const { return Active() ? static_cast<int>(view_.size()) : 0; }

int TShopDataSet::RecNo() const {
  if (!Active()) return 0;
  if (state_ == TDataSetState::dsInsert) return static_cast<int>(view_.size()) + 1;
  return cur_ + 1;
}

void TShopDataSet::SetRecNo(int recNo) {
  CheckActive();
  CheckBrowseMode();
  if (recNo < 1 || recNo > static_cast<int>(view_.size())) return;
  cur_ = recNo - 1;
  eof_ = false;
  NotifyDetails();
}

bool TShopDataSet::Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues, unsigned options) {
  CheckActive();
  const std::vector<std::string> names = SplitKeyFields(keyFields);
  std::vector<TShopField*> keys;
  for (const std::string& name : names) {
    TShopField* field = Lookup(name);
    if (!field) FieldNotFound(name);
    keys.push_back(field);
  }
  if (keys.empty() || keys.size() != keyValues.size())
    throw EDatabaseError(name_ + ": число значений ключа (" + std::to_string(keyValues.size()) +
                         ") не совпадает с числом полей ключа '" + keyFields + "'");
  CheckBrowseMode();
  for (std::size_t r = 0; r < view_.size(); ++r) {
    const TRow& row = *view_[r];
    bool match = true;
    for (std::size_t k = 0; k < keys.size() && match; ++k)
      match =
          KeyMatches(row.values[static_cast<std::size_t>(keys[k]->Index())], keyValues[k], keys[k]->Kind(), options);
    if (match) {
      cur_ = static_cast<int>(r);
      eof_ = false;
      NotifyDetails();
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Editing

void TShopDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (view_.empty() || cur_ < 0) {
    Append();
    return;
  }
  buffer_ = view_[static_cast<std::size_t>(cur_)]->values;
  modified_ = false;
  state_ = TDataSetState::dsEdit;
}

void TShopDataSet::Append() {
  CheckActive();
  CheckBrowseMode();
  beforeAppend_ = cur_;
  buffer_.assign(fields_.size(), TVariant());
  // A new detail row belongs to the master's current row.
  if (std::int64_t key = 0; master_ && LinkValue(key)) buffer_[static_cast<std::size_t>(linkField_)] = key;
  modified_ = false;
  state_ = TDataSetState::dsInsert;
  NotifyDetails();
}

void TShopDataSet::AddToLog(const TRowPtr& row) {
  row->seq = nextSeq_++;
  log_[row->seq] = row;
}

void TShopDataSet::Post() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit) {
    if (modified_) {
      const TRowPtr& current = view_[static_cast<std::size_t>(cur_)];
      if (linkField_ >= 0 &&
          buffer_[static_cast<std::size_t>(linkField_)] != current->values[static_cast<std::size_t>(linkField_)])
        linkIndexValid_ = false;
      if (current->status == TRowStatus::Unchanged) {
        current->original = current->values;
        current->status = TRowStatus::Modified;
        AddToLog(current);
      }
      current->values = std::move(buffer_);
    }
  } else if (state_ == TDataSetState::dsInsert) {
    auto row = std::make_shared<TRow>();
    row->values = std::move(buffer_);
    row->status = TRowStatus::Inserted;
    AddToLog(row);
    if (linkField_ >= 0 && linkIndexValid_) {
      if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) linkIndex_[*k].push_back(row);
    }
    view_.push_back(row);
    rows_.push_back(std::move(row));
    cur_ = static_cast<int>(view_.size()) - 1;
    eof_ = false;
  } else {
    throw EDatabaseError(name_ + ": набор данных не в режиме редактирования или добавления");
  }
  buffer_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

void TShopDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (state_ == TDataSetState::dsInsert) {
    cur_ = std::min(beforeAppend_, static_cast<int>(view_.size()) - 1);
    if (cur_ < 0 && !view_.empty()) cur_ = 0;
    eof_ = view_.empty();
  }
  buffer_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

void TShopDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::dsEdit) Cancel();
  if (view_.empty() || cur_ < 0) throw EDatabaseError(name_ + ": операция невозможна для пустого набора данных");
  TRowPtr row = view_[static_cast<std::size_t>(cur_)];
  rows_.erase(std::find(rows_.begin(), rows_.end(), row));
  view_.erase(view_.begin() + cur_);
  if (linkField_ >= 0 && linkIndexValid_) {
    if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) {
      auto& bucket = linkIndex_[*k];
      bucket.erase(std::remove(bucket.begin(), bucket.end(), row), bucket.end());
    }
  }
  if (row->status == TRowStatus::Inserted) {
    // Never written: it leaves the log with the row.
    log_.erase(row->seq);
    row->seq = 0;
    row->status = TRowStatus::Deleted;
  } else {
    const bool logged = row->status == TRowStatus::Modified;
    // The delete is written only where the row still holds what was loaded.
    if (logged) row->values = std::move(row->original);
    row->status = TRowStatus::Deleted;
    row->original.clear();
    if (!logged) AddToLog(row);
  }
  if (cur_ >= static_cast<int>(view_.size())) cur_ = static_cast<int>(view_.size()) - 1;
  eof_ = view_.empty();
  NotifyDetails();
}

// ---------------------------------------------------------------------------
// Change log

void TShopDataSet::RefreshRow(TRow& row, bool mustSucceed) {
  const std::string sql =
      "SELECT " + ColumnList() + " FROM " + module_.Connection().Identifier(table_) + " WHERE rowid = $1";
  std::vector<TVariant> values;
  bool found = false;
  try {
    module_.Connection().Query(sql, {TVariant(row.rowid)}, [&](std::vector<TVariant>& read) {
      values = std::move(read);
      found = true;
    });
  } catch (EDatabaseError& e) {
    // Outside a transaction the row stays written whatever the re-read does:
    // counting it as failed would write it a second time.
    if (!mustSucceed) return;
    e.SetMessage("не удалось перечитать записанную строку таблицы " + table_ + ": " + e.Message());
    throw;
  }
  if (!found) {
    if (!mustSucceed) return;
    throw EDatabaseError("записанная строка не найдена в таблице " + table_ + " при повторном чтении");
  }
  row.values = std::move(values);
}

std::string TShopDataSet::RowName(const TRow& row, const std::vector<TVariant>& loaded) const {
  if (keyField_ < 0) return "rowid = " + std::to_string(row.rowid);
  return fields_[static_cast<std::size_t>(keyField_)]->FieldName() + " = " +
         VariantText(loaded[static_cast<std::size_t>(keyField_)]);
}

std::string TShopDataSet::StillLoadedCondition(const TRow& row, const std::vector<TVariant>& loaded,
                                               std::vector<TVariant>& params) const {
  TShopConnection& connection = module_.Connection();
  params.emplace_back(row.rowid);
  std::string condition = "rowid = $" + std::to_string(params.size());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    params.push_back(loaded[i]);
    condition += " AND " + connection.Identifier(fields_[i]->FieldName()) + " IS NOT DISTINCT FROM $" +
                 std::to_string(params.size());
  }
  return condition;
}

void TShopDataSet::WriteUnlessChangedElsewhere(const TRow& row, const std::string& sql, std::vector<TVariant> params,
                                               const std::vector<TVariant>& loaded) {
  TShopConnection& connection = module_.Connection();
  const std::string table = connection.Identifier(table_);
  const std::string where = StillLoadedCondition(row, loaded, params);
  if (connection.Query(sql + " WHERE " + where, params, nullptr) > 0) return;
  // Nothing written: the row is gone or holds another computer's values,
  // unless a trigger of the table skipped the write.
  std::vector<TVariant> check;
  const std::string stillThere = StillLoadedCondition(row, loaded, check);
  if (std::holds_alternative<std::monostate>(
          connection.QueryValue("SELECT 1 FROM " + table + " WHERE " + stillThere, check)))
    throw EDatabaseError(
        name_ + ": строку " + RowName(row, loaded) + " после загрузки изменил или удалил другой компьютер",
        TDatabaseErrorKind::Conflict);
  throw EDatabaseError("строка не записана в таблицу " + table_);
}

// Writes one log entry and reads a written row back; raises EDatabaseError
// when the database refuses it, or, with mustReread, when the re-read fails.
// A change or delete is written only where the row still holds the values
// this computer loaded: another computer's save is never overwritten unseen.
void TShopDataSet::WriteEntry(TRow& row, bool mustReread) {
  TShopConnection& connection = module_.Connection();
  const std::string table = connection.Identifier(table_);
  auto placeholder = [](std::size_t index) { return "$" + std::to_string(index + 1); };
  std::vector<TVariant> params;
  switch (row.status) {
    case TRowStatus::Inserted: {
      // Null columns are left out so that the table's defaults apply.
      std::string names, marks;
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (std::holds_alternative<std::monostate>(row.values[i])) continue;
        names += (params.empty() ? "" : ", ") + connection.Identifier(fields_[i]->FieldName());
        marks += (params.empty() ? "" : ", ") + placeholder(params.size());
        params.push_back(row.values[i]);
      }
      std::string sql = "INSERT INTO " + table;
      sql += params.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")";
      const TVariant key = connection.QueryValue(sql + " RETURNING rowid", params);
      // No key comes back when a trigger skipped the row (RAISE(IGNORE) on
      // SQLite, a BEFORE trigger answering NULL on the server).
      if (std::holds_alternative<std::monostate>(key)) throw EDatabaseError("строка не записана в таблицу " + table_);
      row.rowid = RowKey(key, table_);
      RefreshRow(row, mustReread);
      break;
    }
    case TRowStatus::Modified: {
      std::string assignments;
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (row.values[i] == row.original[i]) continue;
        assignments += (params.empty() ? "" : ", ") + connection.Identifier(fields_[i]->FieldName()) + " = " +
                       placeholder(params.size());
        params.push_back(row.values[i]);
      }
      if (params.empty()) break;
      WriteUnlessChangedElsewhere(row, "UPDATE " + table + " SET " + assignments, std::move(params), row.original);
      RefreshRow(row, mustReread);
      break;
    }
    case TRowStatus::Deleted: WriteUnlessChangedElsewhere(row, "DELETE FROM " + table, {}, row.values); break;
    case TRowStatus::Unchanged: break;
  }
}

bool TShopDataSet::ApplyEntry(TRow& row, std::string& error) {
  TShopConnection& connection = module_.Connection();
  // Inside a transaction the write and its re-read share the entry's
  // savepoint: a re-read that fails undoes the write, and the entry fails
  // alone instead of spoiling the transaction for every entry after it.
  const bool inTransaction = connection.InTransaction();
  const std::int64_t rowid = row.rowid;
  try {
    connection.Isolated([&] { WriteEntry(row, inTransaction); });
  } catch (const EDatabaseError& e) {
    row.rowid = rowid;  // an insert that was undone has no key
    // A row another computer changed is not this entry's fault: the save
    // as a whole is out of date.
    if (e.Kind() == TDatabaseErrorKind::Conflict) throw;
    error = e.Message();
    return false;
  }
  if (row.status != TRowStatus::Deleted) row.status = TRowStatus::Unchanged;
  row.original.clear();
  row.seq = 0;
  return true;
}

int TShopDataSet::ApplyUpdates(int maxErrors) {
  CheckActive();
  CheckBrowseMode();
  applyErrors_.clear();
  TShopConnection& connection = module_.Connection();
  const bool inTransaction = connection.InTransaction();
  std::vector<TRowPtr> entries;
  entries.reserve(log_.size());
  for (const auto& [seq, row] : log_) entries.push_back(row);
  int failures = 0;
  for (const TRowPtr& row : entries) {
    TAppliedEntry before{row, row->status, row->original, row->seq};
    std::string error;
    if (ApplyEntry(*row, error)) {
      log_.erase(before.seq);
      if (inTransaction) applied_.push_back(std::move(before));
      continue;
    }
    ++failures;
    applyErrors_.push_back(error);
    if (inTransaction && !connection.InTransaction()) {
      // A trigger, the database itself or a lost connection ended the
      // host's transaction: everything written in it is gone, so it must
      // not look applied.
      module_.NotifyTransactionEnd(false);
      throw EDatabaseError(name_ + ": транзакция отменена базой данных: " + error);
    }
    if (maxErrors >= 0 && failures > maxErrors) break;
  }
  return failures;
}

// ---------------------------------------------------------------------------
// Identifiers of new rows

std::map<std::int64_t, std::int64_t> TShopDataSet::MoveTakenIdentifiers() {
  std::map<std::int64_t, std::int64_t> moved;
  if (!Active() || keyField_ < 0) return moved;
  CheckBrowseMode();
  TShopConnection& connection = module_.Connection();
  const std::string table = connection.Identifier(table_);
  const std::string column = connection.Identifier(fields_[static_cast<std::size_t>(keyField_)]->FieldName());
  const auto key = static_cast<std::size_t>(keyField_);
  std::optional<std::int64_t> next;
  for (const auto& [seq, row] : log_) {
    if (row->status != TRowStatus::Inserted) continue;
    const std::optional<std::int64_t> id = LinkKey(row->values[key]);
    if (!id) continue;
    if (std::holds_alternative<std::monostate>(
            connection.QueryValue("SELECT 1 FROM " + table + " WHERE " + column + " = $1", {TVariant(*id)})))
      continue;
    if (!next) {
      // Above every identifier stored and every one this computer holds.
      const std::optional<std::int64_t> stored =
          LinkKey(connection.QueryValue("SELECT MAX(" + column + ") FROM " + table));
      std::int64_t highest = stored.value_or(0);
      for (const TRowPtr& held : rows_) highest = std::max(highest, LinkKey(held->values[key]).value_or(0));
      next = highest + 1;
    }
    if (*next > std::numeric_limits<std::int32_t>::max())
      throw EDatabaseError(name_ + ": нет свободного идентификатора для новой строки (" + column + ")");
    renumbered_.push_back({row, keyField_, row->values[key]});
    row->values[key] = TVariant(*next);
    moved[*id] = (*next)++;
  }
  if (!moved.empty()) IdentifiersMoved();
  return moved;
}

void TShopDataSet::FollowMovedIdentifiers(const std::string& field, const std::map<std::int64_t, std::int64_t>& moved) {
  const TShopField* shopField = Lookup(field);
  if (!Active() || !shopField || moved.empty()) return;
  CheckBrowseMode();
  const auto index = static_cast<std::size_t>(shopField->Index());
  bool followed = false;
  for (const auto& [seq, row] : log_) {
    if (row->status == TRowStatus::Deleted) continue;
    const std::optional<std::int64_t> id = LinkKey(row->values[index]);
    if (!id) continue;
    const auto to = moved.find(*id);
    if (to == moved.end()) continue;
    renumbered_.push_back({row, shopField->Index(), row->values[index]});
    row->values[index] = TVariant(to->second);
    followed = true;
  }
  if (followed) IdentifiersMoved();
}

void TShopDataSet::IdentifiersMoved() {
  linkIndexValid_ = false;
  if (master_) RebuildView();  // this dataset's link values moved
  NotifyDetails();
}

void TShopDataSet::TransactionCommitted() {
  applied_.clear();
  renumbered_.clear();
}

void TShopDataSet::TransactionRolledBack() {
  for (auto it = applied_.rbegin(); it != applied_.rend(); ++it) {
    TRow& row = *it->row;
    const bool deletedSince = row.status == TRowStatus::Deleted && it->status != TRowStatus::Deleted;
    if (row.seq != 0) log_.erase(row.seq);  // a change made after the apply
    switch (it->status) {
      case TRowStatus::Inserted:
        row.rowid = 0;
        row.original.clear();
        if (deletedSince) {
          row.seq = 0;  // inserted and deleted again: nothing to write
          continue;
        }
        row.status = TRowStatus::Inserted;
        break;
      case TRowStatus::Modified:
        if (!deletedSince) {
          row.status = TRowStatus::Modified;
          row.original = it->original;
        }
        break;
      case TRowStatus::Deleted: row.status = TRowStatus::Deleted; break;
      case TRowStatus::Unchanged: continue;
    }
    row.seq = it->seq;
    log_[row.seq] = it->row;
  }
  applied_.clear();
  // Identifiers moved for this save go back: the module holds its new rows
  // under the numbers it gave them, and the next save checks them anew.
  if (renumbered_.empty()) return;
  for (auto it = renumbered_.rbegin(); it != renumbered_.rend(); ++it)
    it->row->values[static_cast<std::size_t>(it->field)] = it->before;
  renumbered_.clear();
  IdentifiersMoved();
}

}  // namespace selvo::host

// What the module needs of the host's data module and its datasets. The
// host implements these interfaces and owns the objects; the module only
// refers to them.
#pragma once

#ifndef __cplusplus
#error "selvo/SelvoDataSets.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace selvo {

enum class TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };

// Options of TDataSet::Locate, combined with |.
enum TLocateOptions : unsigned {
  loNone = 0,
  loCaseInsensitive = 1,
  loPartialKey = 2,
};

// A key value for Locate: null, an integer, a real or a text.
using TVariant = std::variant<std::monostate, std::int64_t, double, std::string>;

// One column of the current row. Reads of a null value give 0, 0.0 or "".
class TField {
 public:
  virtual const std::string& FieldName() const = 0;
  virtual bool IsNull() const = 0;
  virtual std::int32_t AsInteger() const = 0;
  virtual double AsFloat() const = 0;
  // A day-based double: days since 30 December 1899, fraction = time of day.
  virtual double AsDateTime() const = 0;
  virtual std::string AsString() const = 0;
  // Assignments need the dataset in edit or append state. A text assigned to
  // a numeric column is converted; a bad text raises EConvertError naming the
  // value and the field.
  virtual void SetAsInteger(std::int32_t value) = 0;
  virtual void SetAsFloat(double value) = 0;
  virtual void SetAsDateTime(double value) = 0;
  virtual void SetAsString(const std::string& value) = 0;
  virtual void SetNull() = 0;

 protected:
  ~TField() = default;
};

class TDataSet {
 public:
  virtual const std::string& Name() const = 0;

  virtual void Open() = 0;
  // Drops a row being edited and every change not yet applied.
  virtual void Close() = 0;
  virtual bool Active() const = 0;

  // First completes a row being edited or appended: posted when it was
  // changed, cancelled otherwise.
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual bool Eof() const = 0;
  virtual bool IsEmpty() const = 0;
  virtual int RecordCount() const = 0;
  // 1-based position of the current row; 0 when there is none.
  virtual int RecNo() const = 0;
  virtual void SetRecNo(int recNo) = 0;

  // Names compare without regard to letter case. FieldByName raises
  // EDatabaseError when there is no such field; FindField gives nullptr.
  virtual TField& FieldByName(const std::string& name) = 0;
  virtual TField* FindField(const std::string& name) = 0;

  // keyFields is one name or several joined by ';', with one value each.
  // Moves to the first matching row and answers whether there was one.
  virtual bool Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues, unsigned options) = 0;

  virtual void Edit() = 0;
  virtual void Append() = 0;
  virtual void Post() = 0;
  virtual void Cancel() = 0;
  virtual void Delete() = 0;
  virtual bool Modified() const = 0;
  virtual TDataSetState State() const = 0;

  // Number of posted or deleted rows not yet written to the database.
  virtual int ChangeCount() const = 0;
  // Writes the change log into the database; maxErrors < 0 means no limit.
  // Answers the number of entries that failed; those stay in the log.
  virtual int ApplyUpdates(int maxErrors) = 0;

 protected:
  ~TDataSet() = default;
};

class TDataModule {
 public:
  // The owned dataset of that name, or nullptr.
  virtual TDataSet* FindComponent(const std::string& name) = 0;

 protected:
  ~TDataModule() = default;
};

}  // namespace selvo

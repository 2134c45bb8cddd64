// The one header a host includes to use the payments and discounts module.
//
// It declares what host and module share: the error classes, the data module
// and dataset interfaces the host implements, the two host callbacks, the
// records with their fixed byte layout, the host's reference-counted array and
// text forms, and the fifteen exported functions.
//
// Texts crossing this interface are UTF-8, except the fields of TPaymentRec
// that the host reads as 8-bit Windows-1251 (Name, CustomCheck).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace selvo {

// ---------------------------------------------------------------------------
// Errors. Every failure is an exception of one of these classes carrying the
// operator-facing message. An operation that passes an error on puts its own
// name in front of the message (SetMessage + rethrow), so the class is kept.

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// A dataset failure: a field that is not there, an operation in the wrong state.
class EDatabaseError : public Exception {
  using Exception::Exception;
};
// A text or value that does not convert to the type asked for.
class EConvertError : public Exception {
  using Exception::Exception;
};
// A position outside a list.
class EListError : public Exception {
  using Exception::Exception;
};
// A violated precondition of the module's own code.
class EAssertionFailed : public Exception {
  using Exception::Exception;
};
// A sale record that the calculation cannot take (short line sequences,
// numbers that are not finite).
class EInvalidSale : public Exception {
  using Exception::Exception;
};
// A function of the module that this build does not provide.
class ENotAvailable : public Exception {
  using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Host data module and datasets. The host owns them; the module only refers.

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
  virtual bool Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues,
                      unsigned options) = 0;

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

// ---------------------------------------------------------------------------
// Host callbacks.

// Receives "START", "COMMIT" or "ROLLBACK"; only the answer to "START" counts.
using TTransactionFunc = bool (*)(const char* command);
// Shows the host's goods selection window; 1 means the operator confirmed.
using TGoodsSelectFormShow = std::int32_t (*)();

// ---------------------------------------------------------------------------
// The host's reference-counted arrays and texts: a pointer to the first
// element (nullptr when empty), the element count in the 32-bit word just
// before it and the reference count in the word before that. Host and module
// share the C allocator, so either side may create or release them.

struct TDynArrayHeader {
  std::int32_t refCount;
  std::int32_t length;
};
static_assert(sizeof(TDynArrayHeader) == 8);

inline TDynArrayHeader* DynArrayHeaderOf(const void* first) {
  return first ? reinterpret_cast<TDynArrayHeader*>(const_cast<char*>(static_cast<const char*>(first)) -
                                                    sizeof(TDynArrayHeader))
               : nullptr;
}

inline std::int32_t DynArrayLength(const void* first) {
  return first ? DynArrayHeaderOf(first)->length : 0;
}

// A new array of count zero-filled elements, reference count 1; nullptr for 0.
// extraBytes are allocated and zeroed after the elements (a text's final NUL).
template <class T>
T* DynArrayNew(std::int32_t count, std::size_t extraBytes = 0) {
  if (count <= 0) return nullptr;
  const std::size_t bytes = sizeof(TDynArrayHeader) + sizeof(T) * static_cast<std::size_t>(count) + extraBytes;
  auto* header = static_cast<TDynArrayHeader*>(std::calloc(1, bytes));
  if (!header) throw std::bad_alloc();
  header->refCount = 1;
  header->length = count;
  return reinterpret_cast<T*>(header + 1);
}

template <class T>
T* DynArrayFrom(const std::vector<T>& values) {
  T* first = DynArrayNew<T>(static_cast<std::int32_t>(values.size()));
  if (first) std::memcpy(first, values.data(), sizeof(T) * values.size());
  return first;
}

template <class T>
T* DynArrayAddRef(T* first) {
  if (first) ++DynArrayHeaderOf(first)->refCount;
  return first;
}

// Drops one reference, frees the array at the last one, and empties the slot.
template <class T>
void DynArrayRelease(T*& first) {
  if (!first) return;
  TDynArrayHeader* header = DynArrayHeaderOf(first);
  first = nullptr;
  if (--header->refCount <= 0) std::free(header);
}

// 8-bit text in the same form, zero-terminated; nullptr is the empty text.
using TAnsiText = char*;

inline TAnsiText AnsiTextNew(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  char* first = DynArrayNew<char>(static_cast<std::int32_t>(bytes.size()), 1);
  std::memcpy(first, bytes.data(), bytes.size());
  return first;
}

// Drops one reference of a text. Takes the pointer by value, so it serves
// the fields of packed records too; the caller empties the field.
inline void AnsiTextRelease(TAnsiText text) { DynArrayRelease(text); }

inline std::string AnsiTextBytes(const char* text) {
  return text ? std::string(text, static_cast<std::size_t>(DynArrayLength(text))) : std::string();
}

// ---------------------------------------------------------------------------
// Records shared with the host. Their layout on a 32-bit target is fixed; on a
// 64-bit target only the pointer fields widen.

#pragma pack(push, 1)
// One payment type, 57 bytes on a 32-bit target.
struct TPaymentRec {
  std::int32_t ID;
  // Length byte (0..20) followed by up to 20 Windows-1251 characters.
  std::uint8_t Name[21];
  std::uint8_t Type;
  std::uint8_t Check;
  double Discount;
  bool Enabled;
  std::int32_t CheckItogPrec;
  double CheckPrecLimit;
  std::int32_t GsmVO;
  // Goods receipt template, Windows-1251, in the reference-counted text form.
  TAnsiText CustomCheck;
  std::uint8_t PrintCustomCheck;
};
#pragma pack(pop)

// Natural alignment: on a 32-bit target (doubles aligned to 4 bytes there)
// it gives the host's layout; on a 64-bit target the pointers widen and
// align, so no field is ever reached unaligned.
// The sale handed to CalcDiscount, 36 bytes on a 32-bit target. Every line
// sequence holds at least as many elements as GoodsIDs.
struct TDiscountInData {
  std::int32_t Reserved;
  std::int32_t* GoodsIDs;
  std::int32_t* CategoryIDs;
  double* ZPrices;
  double* Prices;
  double* Quantities;
  std::int32_t PayID;
  double SaleTime;
};

// The result record of CalcDiscount, 100 bytes on a 32-bit target. The module
// empties both sequences (releasing them) and zeroes the rest on every call.
struct TDiscountOutData {
  std::int32_t Reserved0;
  double* Reserved1;
  double DiscountPercent;
  double* Reserved2;
  std::uint8_t Reserved3[80];
};

// The module's one payment list as the host sees it. The five virtual
// operations are the first five slots of the vtable, in this order.
class TPaymentList {
 public:
  virtual void Clear();
  // Raises EListError for a position outside the list.
  virtual TPaymentRec* GetItem(std::int32_t index);
  virtual std::int32_t Count();
  // Appends a copy; the CustomCheck text is shared by reference count.
  virtual void Add(const TPaymentRec* record);
  // The name in Windows-1251, the encoding of TPaymentRec::Name (at most its
  // 20 bytes), compared without regard to letter case; nullptr when absent.
  virtual TPaymentRec* FindByName(const char* name);
  virtual ~TPaymentList();

  TPaymentList();
  TPaymentList(const TPaymentList&) = delete;
  TPaymentList& operator=(const TPaymentList&) = delete;

  // Module-side operations, not part of the vtable contract.
  std::int32_t IndexOfID(std::int32_t id);
  TPaymentRec* FindByID(std::int32_t id);
  std::int32_t NewID();
  void ImportFromFile(const std::string& fileName);
  void ExportToFile(const std::string& fileName);

 private:
  std::vector<TPaymentRec*> items_;
};

}  // namespace selvo

// ---------------------------------------------------------------------------
// The exported functions, by their plain names.
extern "C" {
selvo::TPaymentList* GetPaymentList();
void SetDataModule(selvo::TDataModule* dataModule);
void SetLastPaymentID(std::int32_t id);
void SetLastDiscountID(std::int32_t id);
void SetLastDscGoodsID(std::int32_t id);
void SetLastExclusionsID(std::int32_t id);
std::int32_t GetPaymentsVersion();
void PaymentsCanEditSmartCardDiscount(bool canEdit);
void SetTransactionFunc(selvo::TTransactionFunc func);
void SetRoundPrecision(std::int32_t precision);
void SetGoodsSelectFormShow(selvo::TGoodsSelectFormShow func);
void FillPaymentsList();
void FillDiscountList();
double CalcDiscount(const selvo::TDiscountInData* inData, selvo::TDiscountOutData* outData);
void ShowSelvoPaymentsForm();
}

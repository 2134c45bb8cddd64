// The records shared with the host, with their fixed byte layout, and the
// host's reference-counted arrays and texts they are made of.
#pragma once

#ifndef __cplusplus
#error "selvo/SelvoRecords.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace selvo {

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

inline std::int32_t DynArrayLength(const void* first) { return first ? DynArrayHeaderOf(first)->length : 0; }

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

// Receipt kinds (TPaymentRec::Check, 0..6) with their long and short texts.
inline constexpr const char* kCheckKindLongTexts[7] = {
    "<нет>", "наличный", "безналичный 1", "безналичный 2", "безналичный 3", "безналичный 4", "безналичный 5"};
inline constexpr const char* kCheckKindShortTexts[7] = {"нет", "НАЛ", "Б/Н 1", "Б/Н 2", "Б/Н 3", "Б/Н 4", "Б/Н 5"};

// Base payment types of the fuel side (TPaymentRec::GsmVO modulo 100).
struct TGsmBaseKind {
  std::int32_t code;
  const char* text;
};
inline constexpr TGsmBaseKind kGsmBaseKinds[8] = {
    {0, "Наличные"}, {1, "Платежный терминал"}, {3, "Безналичные"},       {4, "Ведомость +"},
    {6, "ЛНР"},      {8, "Договорной"},         {10, "Дисконтные карты"}, {12, "ЛБР"}};

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

}  // namespace selvo

// TSmallArray: a sequence of plain values that keeps up to N of them inside
// the object and moves them to one heap block only when it grows past N.
//
// A discount card holds a dozen short sequences (a couple of time discounts,
// thresholds and periods as a rule); kept inside the card they cost no heap
// block each, and the object is no larger than a std::vector while N values
// fit in the room of the heap pointer and the capacity. It offers the part of
// std::vector's interface that the module uses.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace selvo {

template <class T, std::size_t N>
class TSmallArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>,
                "values are moved as bytes");
  static_assert(N > 0);

 public:
  using value_type = T;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using const_reference = const T&;
  using pointer = T*;
  using const_pointer = const T*;
  using iterator = T*;
  using const_iterator = const T*;

  TSmallArray() noexcept {}
  TSmallArray(std::initializer_list<T> values) { Assign(values.begin(), values.size()); }
  explicit TSmallArray(size_type count, const T& value = T()) { resize(count, value); }
  template <class It, class = typename std::iterator_traits<It>::iterator_category>
  TSmallArray(It first, It last) {
    for (; first != last; ++first) push_back(*first);
  }
  TSmallArray(const TSmallArray& other) { Assign(other.data(), other.size_); }
  TSmallArray(TSmallArray&& other) noexcept { Take(other); }
  TSmallArray& operator=(const TSmallArray& other) {
    if (this != &other) Assign(other.data(), other.size_);
    return *this;
  }
  TSmallArray& operator=(TSmallArray&& other) noexcept {
    if (this != &other) {
      Free();
      Take(other);
    }
    return *this;
  }
  TSmallArray& operator=(std::initializer_list<T> values) {
    Assign(values.begin(), values.size());
    return *this;
  }
  ~TSmallArray() { Free(); }

  size_type size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  size_type capacity() const noexcept { return OnHeap() ? capacity_ : N; }
  static constexpr size_type max_size() noexcept { return std::numeric_limits<std::uint32_t>::max() / sizeof(T); }

  T* data() noexcept { return OnHeap() ? store_.heap : store_.inline_; }
  const T* data() const noexcept { return OnHeap() ? store_.heap : store_.inline_; }
  iterator begin() noexcept { return data(); }
  iterator end() noexcept { return data() + size_; }
  const_iterator begin() const noexcept { return data(); }
  const_iterator end() const noexcept { return data() + size_; }
  const_iterator cbegin() const noexcept { return begin(); }
  const_iterator cend() const noexcept { return end(); }

  T& operator[](size_type i) noexcept { return data()[i]; }
  const T& operator[](size_type i) const noexcept { return data()[i]; }
  T& at(size_type i) {
    if (i >= size_) throw std::out_of_range("TSmallArray::at");
    return data()[i];
  }
  const T& at(size_type i) const {
    if (i >= size_) throw std::out_of_range("TSmallArray::at");
    return data()[i];
  }
  T& front() noexcept { return data()[0]; }
  const T& front() const noexcept { return data()[0]; }
  T& back() noexcept { return data()[size_ - 1]; }
  const T& back() const noexcept { return data()[size_ - 1]; }

  void push_back(const T& value) {
    if (size_ == capacity()) {
      const T copy = value;  // value may lie inside the sequence
      Grow(size_ + 1);
      data()[size_++] = copy;
      return;
    }
    data()[size_++] = value;
  }
  T& emplace_back(const T& value) {
    push_back(value);
    return back();
  }
  void pop_back() noexcept { --size_; }
  void clear() noexcept { size_ = 0; }
  void reserve(size_type count) {
    if (count > capacity()) Grow(count);
  }
  void resize(size_type count, const T& value = T()) {
    if (count > size_) {
      const T copy = value;
      reserve(count);
      std::fill(data() + size_, data() + count, copy);
    }
    size_ = static_cast<std::uint32_t>(count);
  }
  void assign(size_type count, const T& value) {
    clear();
    resize(count, value);
  }
  // Frees the heap block when the values fit inside the object again.
  void shrink_to_fit() {
    if (!OnHeap() || size_ == capacity_) return;
    TSmallArray copy(*this);
    *this = std::move(copy);
  }
  iterator erase(const_iterator first, const_iterator last) {
    T* at = data() + (first - data());
    const auto removed = static_cast<std::uint32_t>(last - first);
    std::memmove(static_cast<void*>(at), last, static_cast<std::size_t>(end() - last) * sizeof(T));
    size_ -= removed;
    return at;
  }
  iterator erase(const_iterator position) { return erase(position, position + 1); }
  iterator insert(const_iterator position, const T& value) {
    const std::ptrdiff_t offset = position - data();
    const T copy = value;
    if (size_ == capacity()) Grow(size_ + 1);
    T* at = data() + offset;
    std::memmove(static_cast<void*>(at + 1), at, static_cast<std::size_t>(size_ - offset) * sizeof(T));
    *at = copy;
    ++size_;
    return at;
  }

  friend bool operator==(const TSmallArray& a, const TSmallArray& b) {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  bool OnHeap() const noexcept { return capacity_ > N; }

  void Grow(size_type wanted) {
    if (wanted > max_size()) throw std::length_error("TSmallArray: too long");
    const size_type capacity = std::max<size_type>(wanted, std::min<size_type>(2 * this->capacity(), max_size()));
    T* block = static_cast<T*>(::operator new(capacity * sizeof(T)));
    std::memcpy(static_cast<void*>(block), data(), size_ * sizeof(T));
    Free();
    store_.heap = block;
    capacity_ = static_cast<std::uint32_t>(capacity);
  }
  void Free() noexcept {
    if (OnHeap()) ::operator delete(store_.heap);
    capacity_ = 0;
  }
  void Assign(const T* values, size_type count) {
    if (count > capacity()) {
      Free();
      size_ = 0;
      Grow(count);
    }
    if (count > 0) std::memmove(static_cast<void*>(data()), values, count * sizeof(T));
    size_ = static_cast<std::uint32_t>(count);
  }
  // Takes the values of other, which is left empty.
  void Take(TSmallArray& other) noexcept {
    store_ = other.store_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.size_ = 0;
    other.capacity_ = 0;
  }

  union TStore {
    T inline_[N];
    T* heap;
  } store_{};
  std::uint32_t size_ = 0;
  // Above N when the values lie in a heap block of that many; N or less
  // (0 as a rule) while they lie inside the object.
  std::uint32_t capacity_ = 0;
};

}  // namespace selvo

// A list that only grows at its end and never moves what it holds, stored
// in blocks of kBlock elements.
//
// Design priority: one allocation per block, not per element. std::deque
// gives each element of more than 512 bytes a block of its own, which for
// 100,000 layout sections was 100,000 allocations and as many frees.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <typename T, std::size_t kBlock = 256>
class BlockList {
public:
  BlockList() = default;
  BlockList(const BlockList&) = delete;
  BlockList& operator=(const BlockList&) = delete;
  BlockList(BlockList&& other) noexcept : blocks_(std::move(other.blocks_)), size_(other.size_) {
    other.size_ = 0;
  }
  BlockList& operator=(BlockList&&) = delete;
  ~BlockList() {
    for (std::size_t i = 0; i < size_; ++i)
      (*this)[i].~T();
  }

  template <typename... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == blocks_.size() * kBlock)
      blocks_.emplace_back(new Slot[kBlock]);
    T* element = new (slot(size_)) T(std::forward<Args>(args)...);
    ++size_;
    return *element;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return *std::launder(reinterpret_cast<T*>(slot(i))); }
  const T& operator[](std::size_t i) const { return *std::launder(reinterpret_cast<const T*>(slot(i))); }

  template <typename List, typename Value>
  class Iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = Value*;
    using reference = Value&;

    Iterator(List* list, std::size_t i) : list_(list), i_(i) {}
    Value& operator*() const { return (*list_)[i_]; }
    Value* operator->() const { return &(*list_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return i_ == other.i_; }
    bool operator!=(const Iterator& other) const { return i_ != other.i_; }

  private:
    List* list_;
    std::size_t i_;
  };
  using iterator = Iterator<BlockList, T>;
  using const_iterator = Iterator<const BlockList, const T>;
  iterator begin() { return {this, 0}; }
  iterator end() { return {this, size_}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

private:
  struct Slot {
    alignas(T) unsigned char bytes[sizeof(T)];
  };
  unsigned char* slot(std::size_t i) const { return blocks_[i / kBlock][i % kBlock].bytes; }

  std::vector<std::unique_ptr<Slot[]>> blocks_;
  std::size_t size_ = 0;
};

#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace kopiensieb {

template <typename Record>
class CursorList;

// Base of every list record: the links of the doubly linked list. Only CursorList touches
// them, so a record is a plain value to everybody else.
template <typename Record>
class ListLinks {
 private:
  friend class CursorList<Record>;
  Record* previous_ = nullptr;
  Record* next_ = nullptr;
};

// The container of all six program lists: a doubly linked list with one cursor.
//
// Records live in a pool that never moves them, so a pointer to a record (a reference held by
// another list) stays valid until that record is deleted or the list is cleared. Deleted
// records are recycled for later adds.
//
// A list may hold several chains (the members of each duplicate group form one): a chain's
// first record has no predecessor and its last record no successor. Stepping, counting and
// the cursor rules follow the links, so they never cross from one chain into another.
template <typename Record>
class CursorList {
 public:
  CursorList() = default;
  CursorList(const CursorList&) = delete;
  CursorList& operator=(const CursorList&) = delete;

  // Inserts a zero-filled record directly after the current one, or at the front when there
  // is none, and makes it current.
  Record& Add() {
    Record& record = Allocate();
    if (current_ == nullptr) {
      record.next_ = first_;
      if (first_ != nullptr) {
        first_->previous_ = &record;
      }
      first_ = &record;
    } else {
      record.previous_ = current_;
      record.next_ = current_->next_;
      if (current_->next_ != nullptr) {
        current_->next_->previous_ = &record;
      }
      current_->next_ = &record;
    }
    current_ = &record;
    return record;
  }

  // Inserts a zero-filled record after the current one that starts a chain of its own: it gets
  // no predecessor, and the current record (the end of the previous chain) no successor.
  Record& AddStartingChain() {
    Record& record = Allocate();
    if (current_ == nullptr) {
      record.next_ = first_;
      if (first_ != nullptr) {
        first_->previous_ = &record;
      }
      first_ = &record;
    } else {
      record.next_ = current_->next_;
      if (current_->next_ != nullptr) {
        current_->next_->previous_ = &record;
      }
      current_->next_ = nullptr;
      severalChains_ = true;
    }
    current_ = &record;
    return record;
  }

  // Makes the next record current. Without a current record, the first one. Fails (and
  // leaves the cursor where it is) at the end of a chain or on an empty list.
  bool StepForward() {
    if (current_ == nullptr) {
      current_ = first_;
      return current_ != nullptr;
    }
    if (current_->next_ == nullptr) {
      return false;
    }
    current_ = current_->next_;
    return true;
  }

  void ResetCursor() { current_ = nullptr; }

  // Removes the current record. The cursor moves to its predecessor; to its successor when it
  // had none; to no record when it had neither.
  void DeleteCurrent() {
    Record* doomed = current_;
    if (doomed == nullptr) {
      return;
    }
    Record* before = doomed->previous_;
    Record* after = doomed->next_;
    if (before != nullptr) {
      before->next_ = after;
    }
    if (after != nullptr) {
      after->previous_ = before;
    }
    if (first_ == doomed) {
      first_ = after;
    }
    current_ = before != nullptr ? before : after;
    Release(*doomed);
  }

  // Index 0 is the first record; an index past the end selects the last record; a negative
  // index, or any index on an empty list, leaves no record current.
  void SelectIndex(std::int64_t index) {
    if (index < 0 || first_ == nullptr) {
      current_ = nullptr;
      return;
    }
    current_ = first_;
    for (std::int64_t step = 0; step < index && current_->next_ != nullptr; ++step) {
      current_ = current_->next_;
    }
  }

  // 1 for the first record, 0 when no record is current.
  std::int64_t CurrentPosition() const {
    std::int64_t position = 0;
    for (const Record* record = current_; record != nullptr; record = record->previous_) {
      ++position;
    }
    return position;
  }

  // The number of records reachable from the first record.
  std::int64_t Count() const {
    if (!severalChains_) {
      return liveRecords_;
    }
    std::int64_t count = 0;
    for (const Record* record = first_; record != nullptr; record = record->next_) {
      ++count;
    }
    return count;
  }

  bool Empty() const { return first_ == nullptr; }

  void Clear() {
    pool_.clear();
    recycled_.clear();
    first_ = nullptr;
    current_ = nullptr;
    liveRecords_ = 0;
    severalChains_ = false;
  }

  // Makes a record of this list current directly (a reference held elsewhere).
  void MakeCurrent(Record& record) { current_ = &record; }

  Record* Current() { return current_; }
  const Record* Current() const { return current_; }
  Record* First() { return first_; }
  const Record* First() const { return first_; }

  // Read-only neighbours, for callers that walk a chain without moving the cursor.
  static Record* Next(const Record& record) { return record.next_; }
  static Record* Previous(const Record& record) { return record.previous_; }

  // Visits every record reachable from the first one, without touching the cursor.
  template <typename Visitor>
  void ForEach(Visitor&& visit) {
    for (Record* record = first_; record != nullptr; record = record->next_) {
      visit(*record);
    }
  }

 private:
  Record& Allocate() {
    ++liveRecords_;
    if (!recycled_.empty()) {
      Record* record = recycled_.back();
      recycled_.pop_back();
      return *record;
    }
    return pool_.emplace_back();
  }

  void Release(Record& record) {
    record = Record{};  // frees the texts; the links start out empty again
    recycled_.push_back(&record);
    --liveRecords_;
  }

  std::deque<Record> pool_;
  std::vector<Record*> recycled_;
  Record* first_ = nullptr;
  Record* current_ = nullptr;
  std::int64_t liveRecords_ = 0;
  bool severalChains_ = false;
};

}  // namespace kopiensieb

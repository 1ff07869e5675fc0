#include "services/docserver/BuiltinDocument.h"

#include "services/docserver/DocumentState.h"

namespace quavelle::docserver {
namespace {

class BuiltinLink : public LinkedDocument {
 public:
  BuiltinLink(std::shared_ptr<DocumentState> state, std::size_t index)
      : state_(std::move(state)), index_(index) {}

  std::u16string AbsolutePath() override { return state_->AbsolutePath(index_); }
  void SetPath(std::u16string newPath) override { state_->Repoint(index_, newPath); }

 private:
  std::shared_ptr<DocumentState> state_;
  std::size_t index_;
};

class BuiltinLinkEnumerator : public Enumerator<LinkedDocument> {
 public:
  BuiltinLinkEnumerator(std::shared_ptr<DocumentState> state, std::size_t count)
      : state_(std::move(state)), count_(count) {}

  std::unique_ptr<LinkedDocument> Next() override {
    if (next_ < count_) return std::make_unique<BuiltinLink>(state_, next_++);
    // The end of the links: everything re-pointed goes to disk in one write.
    if (next_ == count_) {
      ++next_;
      state_->WriteChanges();
    }
    return nullptr;
  }

 private:
  std::shared_ptr<DocumentState> state_;
  std::size_t count_;
  std::size_t next_ = 0;
};

class BuiltinLinkCollection : public Collection<LinkedDocument> {
 public:
  BuiltinLinkCollection(std::shared_ptr<DocumentState> state, std::size_t count)
      : state_(std::move(state)), count_(count) {}

  std::unique_ptr<Enumerator<LinkedDocument>> NewEnum() override {
    return std::make_unique<BuiltinLinkEnumerator>(state_, count_);
  }

 private:
  std::shared_ptr<DocumentState> state_;
  std::size_t count_;
};

}  // namespace

std::unique_ptr<Collection<LinkedDocument>> BuiltinDocument::LinkedDocuments() {
  // Every link-bearing part is read here, so a damaged one fails this call
  // rather than an enumeration half done.
  std::size_t count = state_->ListLinks();
  return std::make_unique<BuiltinLinkCollection>(state_, count);
}

std::u16string BuiltinDocument::FullName() { return state_->path(); }

}  // namespace quavelle::docserver

#include "services/docserver/PackageDocument.h"

#include "services/docserver/PackageState.h"

namespace quavelle::docserver {
namespace {

class PackageLink : public LinkedDocument {
 public:
  PackageLink(std::shared_ptr<PackageState> state, std::size_t index)
      : state_(std::move(state)), index_(index) {}

  std::u16string AbsolutePath() override { return state_->link(index_).link.target.absolutePath; }
  void SetPath(std::u16string newPath) override { state_->Repoint(index_, newPath); }

 private:
  std::shared_ptr<PackageState> state_;
  std::size_t index_;
};

class PackageLinkEnumerator : public Enumerator<LinkedDocument> {
 public:
  PackageLinkEnumerator(std::shared_ptr<PackageState> state, std::size_t count)
      : state_(std::move(state)), count_(count) {}

  std::unique_ptr<LinkedDocument> Next() override {
    if (next_ >= count_) return nullptr;
    return std::make_unique<PackageLink>(state_, next_++);
  }

 private:
  std::shared_ptr<PackageState> state_;
  std::size_t count_;
  std::size_t next_ = 0;
};

class PackageLinkCollection : public Collection<LinkedDocument> {
 public:
  PackageLinkCollection(std::shared_ptr<PackageState> state, std::size_t count)
      : state_(std::move(state)), count_(count) {}

  std::unique_ptr<Enumerator<LinkedDocument>> NewEnum() override {
    return std::make_unique<PackageLinkEnumerator>(state_, count_);
  }

 private:
  std::shared_ptr<PackageState> state_;
  std::size_t count_;
};

}  // namespace

std::unique_ptr<Collection<LinkedDocument>> PackageDocument::LinkedDocuments() {
  // Every link-bearing part is read here, so a damaged one fails this call
  // rather than an enumeration half done.
  std::size_t count = state_->ListLinks();
  return std::make_unique<PackageLinkCollection>(state_, count);
}

std::u16string PackageDocument::FullName() { return state_->path(); }

}  // namespace quavelle::docserver

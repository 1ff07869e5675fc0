#include "services/docserver/ReadAhead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "PackageFixture.h"
#include "services/ServiceError.h"
#include "services/docserver/DocumentKinds.h"
#include "services/docserver/DocumentState.h"

namespace quavelle::docserver::testing {
namespace {

// Real documents, and a log of which ones the workers opened.
struct Loaded {
  TempFolder folder;
  std::mutex mutex;
  std::set<std::u16string> opened;
  std::u16string failing;

  std::u16string Path(const std::string& name) {
    if (!fs::exists(folder / name)) WritePackage(folder / name, LinkedWord());
    return U16((folder / name).string());
  }
  ReadAhead::Loader Loader() {
    return [this](const std::u16string& path) {
      {
        std::lock_guard lock(mutex);
        opened.insert(path);
      }
      if (path == failing) throw ServiceError(1003, u"damaged");
      ServerOptions options;
      auto state =
          std::make_shared<DocumentState>(path, ContentForFileName(path, options), options);
      state->ListLinks();
      return state;
    };
  }
  std::set<std::u16string> Opened() {
    std::lock_guard lock(mutex);
    return opened;
  }
  void WaitFor(std::size_t count) {
    while (Opened().size() < count) std::this_thread::yield();
  }
};

TEST(ReadAhead, PreparesOnlyAFewAheadHandsThemOverInOrderAndDropsWhatTheWalkPassedBy) {
  Loaded files;
  const std::vector<std::u16string> paths = {files.Path("a.docx"), files.Path("b.docx"),
                                             files.Path("c.docx"), files.Path("d.docx"),
                                             files.Path("e.docx")};
  ReadAhead ahead(files.Loader(), 2, 2);
  EXPECT_EQ(ahead.Take(paths[0]), nullptr) << "nothing expected yet";
  ahead.Expect(paths);
  files.WaitFor(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(files.Opened(), (std::set<std::u16string>{paths[0], paths[1]})) << "two ahead at most";

  const std::shared_ptr<DocumentState> b = ahead.Take(paths[1]);  // a was passed by
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->path(), paths[1]);
  EXPECT_EQ(b->ListLinks(), 1u);
  EXPECT_EQ(ahead.Take(paths[0]), nullptr) << "dropped once passed";
  files.WaitFor(4);
  const std::shared_ptr<DocumentState> d = ahead.Take(paths[3]);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->path(), paths[3]);
  EXPECT_EQ(ahead.Take(u"/elsewhere/x.docx"), nullptr);
}

TEST(ReadAhead, AFailedPreparationIsLeftToTheCaller) {
  Loaded files;
  const std::vector<std::u16string> paths = {files.Path("a.docx"), files.Path("b.docx")};
  files.failing = paths[0];
  ReadAhead ahead(files.Loader(), 4, 1);
  ahead.Expect(paths);
  // Wait until the worker took both, so neither is handed back unstarted.
  files.WaitFor(2);
  EXPECT_EQ(ahead.Take(paths[0]), nullptr);
  EXPECT_NE(ahead.Take(paths[1]), nullptr);
}

}  // namespace
}  // namespace quavelle::docserver::testing

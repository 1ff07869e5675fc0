// The system shell writes a shortcut, the byte-level writer re-points it, and
// the shell loads it again: what it reads must be the new target.
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "services/ServiceError.h"
#include "services/Text.h"
#include "services/docserver/ShellLink.h"

namespace quavelle::docserver {
namespace {

namespace fs = std::filesystem;

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <class T>
using Com = std::unique_ptr<T, Releaser>;

class Apartment {
 public:
  Apartment() { initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  ~Apartment() {
    if (initialized_) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  bool initialized_ = false;
};

std::string Show(std::u16string_view text) { return ToUtf8(text); }
std::string Show(const wchar_t* text) {
  return ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text)));
}
const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

Com<IShellLinkW> NewShellLink() {
  IShellLinkW* link = nullptr;
  const HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW, reinterpret_cast<void**>(&link));
  if (FAILED(hr)) throw std::runtime_error("no shell link object");
  return Com<IShellLinkW>(link);
}

Com<IPersistFile> PersistOf(IShellLinkW* link) {
  IPersistFile* file = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    throw std::runtime_error("no persist interface");
  }
  return Com<IPersistFile>(file);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = fs::path(temp) / ("quavelle-lnk-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount64()));
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct ShellCase {
  const char* name;
  std::u16string target;
  bool createTarget;
  std::u16string workingDir, icon, arguments;
  std::u16string newPath, newWorkingDir, newIcon;
  bool itemList;  // whether the shell stores one for this target
};

void PrintTo(const ShellCase& c, std::ostream* out) { *out << c.name; }

class ShellReadsTheNewTarget : public ::testing::TestWithParam<ShellCase> {};

TEST_P(ShellReadsTheNewTarget, AfterRepointing) {
  const ShellCase& c = GetParam();
  Apartment apartment;
  ScratchFolder folder;
  if (c.createTarget) {
    fs::create_directories(fs::path(std::wstring(Wide(c.target))).parent_path());
    std::ofstream(fs::path(std::wstring(Wide(c.target)))) << "plan";
  }
  const fs::path original = folder.path() / "original.lnk";
  {
    auto link = NewShellLink();
    ASSERT_TRUE(SUCCEEDED(link->SetPath(Wide(c.target))));
    link->SetWorkingDirectory(Wide(c.workingDir));
    link->SetIconLocation(Wide(c.icon), 3);
    link->SetArguments(Wide(c.arguments));
    ASSERT_EQ(PersistOf(link.get())->Save(original.c_str(), TRUE), S_OK);
  }

  // Our reader understands what the shell wrote.
  const ShellLink written = ShellLink::Parse(ReadBytes(original), u"original.lnk");
  ASSERT_TRUE(written.target());
  EXPECT_EQ(Show(*written.target()), Show(c.target));

  const fs::path moved = folder.path() / "moved.lnk";
  std::ofstream(moved, std::ios::binary) << written.Repointed(c.newPath);

  auto link = NewShellLink();
  ASSERT_EQ(PersistOf(link.get())->Load(moved.c_str(), STGM_READ), S_OK);
  wchar_t text[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)));
  EXPECT_EQ(Show(text), Show(c.newPath));
  ASSERT_TRUE(SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)));
  EXPECT_EQ(Show(text), Show(c.newWorkingDir));
  int iconIndex = -1;
  ASSERT_TRUE(SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &iconIndex)));
  EXPECT_EQ(Show(text), Show(c.newIcon));
  EXPECT_EQ(iconIndex, 3);
  ASSERT_TRUE(SUCCEEDED(link->GetArguments(text, MAX_PATH)));
  EXPECT_EQ(Show(text), Show(c.arguments));

  // The item list, which the shell prefers to the stored path, names it too.
  PIDLIST_ABSOLUTE items = nullptr;
  const bool hasItems = link->GetIDList(&items) == S_OK && items != nullptr;
  EXPECT_EQ(hasItems, c.itemList);
  if (hasItems) {
    wchar_t fromItems[MAX_PATH] = {};
    const BOOL named = SHGetPathFromIDListW(items, fromItems);
    CoTaskMemFree(items);
    ASSERT_TRUE(named);
    EXPECT_EQ(Show(fromItems), Show(c.newPath));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shortcuts, ShellReadsTheNewTarget,
    ::testing::Values(ShellCase{"Drive", u"C:\\Quavelle\\Data\\plan.docx", true,
                                u"C:\\Quavelle\\Data", u"C:\\Quavelle\\Data\\plan.ico", u"/print",
                                u"D:\\Quavelle\\Data\\plan.docx", u"D:\\Quavelle\\Data",
                                u"D:\\Quavelle\\Data\\plan.ico", true},
                      ShellCase{"DriveDropsAFolder", u"C:\\Quavelle\\Old\\missing.docx", false,
                                u"C:\\Quavelle\\Old", u"C:\\Windows\\notepad.exe", u"",
                                u"E:\\Old\\missing.docx", u"E:\\Old", u"C:\\Windows\\notepad.exe",
                                true},
                      ShellCase{"Share", u"\\\\srv1\\proj\\plan.docx", false, u"\\\\srv1\\proj",
                                u"\\\\srv1\\proj\\plan.ico", u"/view \\\\srv1\\proj\\notes.txt",
                                u"\\\\srv2\\projects\\plan.docx", u"\\\\srv2\\projects",
                                u"\\\\srv2\\projects\\plan.ico",
                                // The shell at hand keeps no item list for a share it cannot reach.
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellLinkShellTest, DriveToShareIsRefused) {
  Apartment apartment;
  ScratchFolder folder;
  const fs::path original = folder.path() / "original.lnk";
  auto link = NewShellLink();
  link->SetPath(L"C:\\Quavelle\\Data\\plan.docx");
  ASSERT_EQ(PersistOf(link.get())->Save(original.c_str(), TRUE), S_OK);
  const ShellLink written = ShellLink::Parse(ReadBytes(original), u"original.lnk");
  try {
    written.Repointed(u"\\\\srv2\\c\\Quavelle\\Data\\plan.docx");
    FAIL() << "re-pointed";
  } catch (const ServiceError& e) {
    EXPECT_EQ(e.number(), 1009);
  }
}

}  // namespace
}  // namespace quavelle::docserver

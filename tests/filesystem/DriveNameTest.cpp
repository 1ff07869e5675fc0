#include <gtest/gtest.h>

#include "services/Text.h"
#include "services/filesystem/LocalFileSystem.h"

namespace quavelle {
namespace {

struct DriveCase {
  const char16_t* path;
  const char16_t* drive;
};

class GetDriveName : public ::testing::TestWithParam<DriveCase> {};

TEST_P(GetDriveName, GivesTheDrivePartCopiedFromTheStartOfThePath) {
  const std::u16string path = GetParam().path;
  const std::u16string before = path;
  const std::u16string drive = CreateLocalFileSystem()->GetDriveName(path);
  EXPECT_EQ(drive, GetParam().drive) << ToUtf8(path);
  EXPECT_TRUE(path.starts_with(drive));
  EXPECT_EQ(path, before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetDriveName,
    ::testing::Values(
        // Drive letters: any ASCII letter and a colon, whatever follows.
        DriveCase{uR"(C:\Data\plan.doc)", u"C:"}, DriveCase{uR"(c:\data)", u"c:"},
        DriveCase{u"C:", u"C:"}, DriveCase{u"C:plan.doc", u"C:"},
        DriveCase{u"z:/Data/plan.doc", u"z:"}, DriveCase{uR"(1:\x)", u""},
        DriveCase{u"\u00C9:\\x", u""}, DriveCase{uR"(:\x)", u""}, DriveCase{u"C", u""},
        // Network paths: two separators, server, separator, share.
        DriveCase{uR"(\\srv1\proj\a.doc)", uR"(\\srv1\proj)"},
        DriveCase{uR"(\\srv1\proj)", uR"(\\srv1\proj)"},
        DriveCase{uR"(\\srv1\proj\)", uR"(\\srv1\proj)"},
        DriveCase{uR"(\\ab\ab\x.doc)", uR"(\\ab\ab)"},
        DriveCase{u"//srv1/proj/a.doc", u"//srv1/proj"},
        DriveCase{uR"(\\srv1/proj\a.doc)", uR"(\\srv1/proj)"},
        DriveCase{uR"(/\srv1\proj)", uR"(/\srv1\proj)"},
        // A server alone, or an empty server or share, names no drive.
        DriveCase{uR"(\\srv1)", u""}, DriveCase{uR"(\\srv1\)", u""},
        DriveCase{uR"(\\srv1\\proj)", u""}, DriveCase{uR"(\\\srv1\proj)", u""},
        DriveCase{uR"(\\)", u""},
        // Device prefixes stay in front of the drive they lead to.
        DriveCase{uR"(\\?\C:\x)", uR"(\\?\C:)"}, DriveCase{uR"(\\.\C:\x)", uR"(\\.\C:)"},
        DriveCase{uR"(\\?\UNC\srv1\proj\x)", uR"(\\?\UNC\srv1\proj)"},
        DriveCase{uR"(\\?\unc\srv1\proj)", uR"(\\?\unc\srv1\proj)"},
        DriveCase{uR"(\\?\UNC\srv1)", uR"(\\?\UNC)"},
        // No drive part.
        DriveCase{u"/home/user/a.doc", u""}, DriveCase{uR"(\Data\plan.doc)", u""},
        DriveCase{uR"(Data\plan.doc)", u""}, DriveCase{u"", u""}));

TEST(DriveExists, OffersTheRootAsTheOneDrive) {
  auto fso = CreateLocalFileSystem();
  EXPECT_TRUE(fso->DriveExists(u"/"));
  for (const std::u16string drive : {u"", u"C:", u"c:", u"//", u"/tmp", uR"(\\srv1\proj)"}) {
    EXPECT_FALSE(fso->DriveExists(drive)) << ToUtf8(drive);
  }
}

}  // namespace
}  // namespace quavelle

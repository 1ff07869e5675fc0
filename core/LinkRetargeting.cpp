#include "core/LinkRetargeting.h"

#include <memory>
#include <vector>

#include "core/LinkRewrite.h"
#include "services/ServiceError.h"

namespace quavelle {
namespace {

// A service that hands back no object where one is needed fails the way reading
// a member of a missing object would, instead of crashing the program.
template <class T>
T& Require(const std::unique_ptr<T>& object) {
  if (!object) {
    throw ServiceError(error_number::kObjectNotSet,
                       u"Object variable or With block variable not set");
  }
  return *object;
}

struct ResultRow {
  std::u16string oldPath;
  std::u16string newPath;
  std::u16string container;
};

}  // namespace

void ProcessFile(RunContext& ctx, const std::u16string& path) {
  const std::unique_ptr<Document> document = ctx.objDocServer.Open(path);
  const std::unique_ptr<Collection<LinkedDocument>> links = Require(document).LinkedDocuments();
  if (!links) return;  // no object: the document has no links to handle

  // A server may write a document's re-pointings only when its links have
  // been enumerated to the end, so its rows are listed only then: the list
  // never shows a link that the file does not hold.
  std::vector<ResultRow> rows;
  const std::unique_ptr<Enumerator<LinkedDocument>> each = links->NewEnum();
  while (const std::unique_ptr<LinkedDocument> link = Require(each).Next()) {
    const std::u16string absolutePath = link->AbsolutePath();
    const std::u16string driveName = ctx.objFSO.GetDriveName(absolutePath);
    if (!DriveMatches(driveName, ctx.OldDrive)) continue;

    const RewrittenLink rewritten =
        RewriteLink(absolutePath, driveName, ctx.OldDrive, ctx.NewDrive);
    // Re-pointed even when unchanged, so the user sees every link that matched.
    link->SetPath(rewritten.newPath);
    rows.push_back({absolutePath, rewritten.newPath, document->FullName()});
  }
  for (const ResultRow& row : rows) ctx.results.AppendRow(row.oldPath, row.newPath, row.container);
}

void ProcessFolder(RunContext& ctx, const std::u16string& path) {
  // A folder link back into the tree would otherwise make the walk endless.
  if (!ctx.visited.FirstVisit(path)) return;
  const std::unique_ptr<Folder> folder = ctx.objFSO.GetFolder(path);

  {
    const std::unique_ptr<Collection<File>> files = Require(folder).Files();
    const std::unique_ptr<Enumerator<File>> each = Require(files).NewEnum();
    while (const std::unique_ptr<File> file = Require(each).Next()) {
      const std::u16string filePath = file->Path();
      // A file reached again through a folder or hard link would be re-pointed and listed twice.
      if (ctx.visited.FirstVisit(filePath)) ProcessFile(ctx, filePath);
    }
  }

  const std::unique_ptr<Collection<Folder>> subfolders = folder->subfolders();
  const std::unique_ptr<Enumerator<Folder>> each = Require(subfolders).NewEnum();
  while (const std::unique_ptr<Folder> subfolder = Require(each).Next()) {
    ProcessFolder(ctx, subfolder->Path());
  }
}

}  // namespace quavelle

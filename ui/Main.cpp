#include "ui/Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QResizeEvent>

#include <algorithm>
#include <functional>
#include <utility>

#include "core/LinkRetargeting.h"
#include "core/RunContext.h"
#include "services/ServiceError.h"
#include "services/ServiceFactory.h"
#include "ui/Twips.h"
#include "ui/frmBrowseFolder.h"

namespace quavelle {
namespace {

constexpr float kListLeft = 120.0f;
constexpr float kListTop = 2040.0f;
// How often a long run lets the window repaint.
constexpr qint64 kPaintIntervalMs = 50;

void NoAutoDefault(QPushButton& button) {
  button.setAutoDefault(false);
  button.setDefault(false);
}

// The wait cursor for as long as a run goes, however it ends.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Marks a run as going until the scope ends.
class RunningMark {
 public:
  explicit RunningMark(bool& running) : running_(running) { running_ = true; }
  ~RunningMark() { running_ = false; }
  RunningMark(const RunningMark&) = delete;
  RunningMark& operator=(const RunningMark&) = delete;

 private:
  bool& running_;
};

// Lets the window repaint at each folder and file the walk meets, so a long
// walk that lists nothing does not look hung either.
class RepaintingWalkGuard : public WalkGuard {
 public:
  RepaintingWalkGuard(WalkGuard& inner, std::function<void()> repaint)
      : inner_(inner), repaint_(std::move(repaint)) {}
  bool FirstVisit(const std::u16string& path) override {
    repaint_();
    return inner_.FirstVisit(path);
  }

 private:
  WalkGuard& inner_;
  std::function<void()> repaint_;
};

}  // namespace

Main::Main(ServiceSource services, QWidget* parent)
    : QWidget(parent),
      fraSearch(QStringLiteral("Folder to search:"), this),
      SearchFolder(&fraSearch),
      cmdBrowse(QStringLiteral("Browse"), &fraSearch),
      fraDrvSrv(QStringLiteral("Drive/Server name:"), this),
      Label2(QStringLiteral("Current Path:"), &fraDrvSrv),
      OldDrive(&fraDrvSrv),
      Label3(QStringLiteral("New path:"), &fraDrvSrv),
      NewDrive(&fraDrvSrv),
      DoIt(QStringLiteral("Process"), this),
      cmdCancel(QStringLiteral("Cancel"), this),
      ListView1(this),
      services_(std::move(services)) {
  setWindowTitle(QStringLiteral("Quavelle"));
  resize(TwipsToPixels(10710), TwipsToPixels(5445));

  const std::pair<QWidget*, QRect> layout[] = {
      {&fraSearch, TwipsRect(120, 120, 5655, 735)},
      {&SearchFolder, TwipsRect(120, 240, 4455, 375)},
      {&cmdBrowse, TwipsRect(4680, 240, 855, 375)},
      {&fraDrvSrv, TwipsRect(5880, 120, 4815, 1815)},
      {&Label2, TwipsRect(120, 240, 1095, 255)},
      {&OldDrive, TwipsRect(360, 480, 4335, 375)},
      {&Label3, TwipsRect(240, 960, 975, 255)},
      {&NewDrive, TwipsRect(360, 1320, 4335, 375)},
      {&DoIt, TwipsRect(3480, 1560, 1095, 375)},
      {&cmdCancel, TwipsRect(4680, 1560, 1095, 375)},
      {&ListView1, TwipsRect(kListLeft, kListTop, 10575, 3375)},
  };
  for (const auto& [control, place] : layout) control->setGeometry(place);
  // The platform's font may be wider than the one the places were chosen for.
  for (QLabel* label : {&Label2, &Label3}) {
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  }

  fraSearch.setObjectName(QStringLiteral("fraSearch"));
  SearchFolder.setObjectName(QStringLiteral("SearchFolder"));
  cmdBrowse.setObjectName(QStringLiteral("cmdBrowse"));
  fraDrvSrv.setObjectName(QStringLiteral("fraDrvSrv"));
  Label2.setObjectName(QStringLiteral("Label2"));
  OldDrive.setObjectName(QStringLiteral("OldDrive"));
  Label3.setObjectName(QStringLiteral("Label3"));
  NewDrive.setObjectName(QStringLiteral("NewDrive"));
  DoIt.setObjectName(QStringLiteral("DoIt"));
  cmdCancel.setObjectName(QStringLiteral("cmdCancel"));
  ListView1.setObjectName(QStringLiteral("ListView1"));

  // Enter in a text box must not start a run.
  NoAutoDefault(cmdBrowse);
  NoAutoDefault(DoIt);
  NoAutoDefault(cmdCancel);

  // Process first, so it has the focus when the window opens.
  setTabOrder(&DoIt, &ListView1);
  setTabOrder(&ListView1, &SearchFolder);
  setTabOrder(&SearchFolder, &cmdBrowse);
  setTabOrder(&cmdBrowse, &OldDrive);
  setTabOrder(&OldDrive, &NewDrive);
  setTabOrder(&NewDrive, &cmdCancel);
  DoIt.setFocus();

  ListView1.SetRowAppendedHook([this] {
    if (running_) KeepPainted();
  });
  connect(&DoIt, &QPushButton::clicked, this, [this] { DoIt_Click(); });
  connect(&cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
  connect(&cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });

  Form_Load();
}

Main::~Main() = default;

void Main::Form_Load() {
  strSearchDrive.clear();
  strSearchFolder.clear();
  objDocServer = services_.createDocumentServer(kDocumentServerProgId);
  objFSO = services_.createFileSystem(kFileSystemProgId);
  ListView1.SetUp();
}

void Main::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void Main::Form_Resize() {
  const float width = PixelsToTwips(this->width()) - kListLeft;
  const float height = PixelsToTwips(this->height()) - kListTop;
  // Smaller than the list's own corner: nothing sensible to show until the
  // window grows again.
  if (width <= 0.0f || height <= 0.0f) {
    ListView1.hide();
    return;
  }
  ListView1.setGeometry(ListView1.x(), ListView1.y(), TwipsToPixels(width), TwipsToPixels(height));
  ListView1.show();
}

void Main::DoIt_Click() {
  // A click queued while a run paints itself must not start a second run inside it.
  if (running_) return;
  const RunningMark running(running_);
  const WaitCursor wait;
  try {
    ListView1.Clear();
    const std::unique_ptr<WalkGuard> walkGuard = services_.createWalkGuard();
    RepaintingWalkGuard visited(*walkGuard, [this] { KeepPainted(); });
    RunContext context{OldDrive.text().toStdU16String(),
                       NewDrive.text().toStdU16String(),
                       *objDocServer,
                       *objFSO,
                       ListView1,
                       visited};
    sincePainted_.start();
    ProcessFolder(context, SearchFolder.text().toStdU16String());
  } catch (const ServiceError& failure) {
    reportFailure(this, failure);
  } catch (const std::exception& failure) {
    // Escaping a Qt slot would end the program in the middle of a run.
    reportFailure(this, UnexpectedFailure(failure));
  }
}

// Repaints without taking input, so a long run does not look hung.
void Main::KeepPainted() {
  if (sincePainted_.elapsed() < kPaintIntervalMs) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  sincePainted_.restart();
}

void Main::closeEvent(QCloseEvent* event) {
  // The run still uses the service objects and the list.
  if (running_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void Main::cmdCancel_Click() { close(); }

void Main::cmdBrowse_Click() {
  bool restoring = false;
  try {
    frmBrowseFolder picker(this, reportFailure);
    if (objFSO->DriveExists(strSearchDrive)) {
      restoring = true;
      picker.Drive1.setDrive(QString::fromStdU16String(strSearchDrive));
      picker.Dir1.setPath(QString::fromStdU16String(strSearchFolder));
      restoring = false;
    }
    picker.exec();
    if (!picker.bCancel) {
      SearchFolder.setText(picker.Dir1.Path());
      strSearchDrive = picker.Drive1.Drive().left(2).toStdU16String();
      strSearchFolder = picker.Dir1.Path().toStdU16String();
    }
  } catch (const std::exception& caught) {
    const auto* service = dynamic_cast<const ServiceError*>(&caught);
    reportFailure(this, service != nullptr ? *service : UnexpectedFailure(caught));
    // A remembered folder that is gone would fail every later Browse the same way.
    if (restoring) {
      strSearchDrive.clear();
      strSearchFolder.clear();
    }
  }
}

}  // namespace quavelle

#pragma once

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <memory>
#include <string>

#include "services/DocumentServer.h"
#include "services/FileSystemService.h"
#include "ui/FailureReport.h"
#include "ui/ResultsListView.h"
#include "ui/ServiceSource.h"

namespace quavelle {

// The program's window: takes the folder and the two drive texts, runs the
// walk on "Process" and lists every link it re-pointed. Loading it creates the
// two service objects, and a failure to create either leaves the constructor.
class Main : public QWidget {
 public:
  explicit Main(ServiceSource services = FactoryServices(), QWidget* parent = nullptr);
  ~Main() override;

  // Drive and folder last picked with Browse.
  std::u16string strSearchDrive;
  std::u16string strSearchFolder;

  QGroupBox fraSearch;
  QLineEdit SearchFolder;
  QPushButton cmdBrowse;
  QGroupBox fraDrvSrv;
  QLabel Label2;
  QLineEdit OldDrive;
  QLabel Label3;
  QLineEdit NewDrive;
  QPushButton DoIt;
  QPushButton cmdCancel;
  ResultsListView ListView1;

  // Where the failure of a command is shown; a message box unless replaced.
  FailureReporter reportFailure = ShowFailure;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();
  void Form_Resize();
  void DoIt_Click();
  void cmdCancel_Click();
  void cmdBrowse_Click();
  void KeepPainted();

  ServiceSource services_;
  std::unique_ptr<DocumentServer> objDocServer;
  std::unique_ptr<FileSystemService> objFSO;
  bool running_ = false;
  QElapsedTimer sincePainted_;
};

}  // namespace quavelle

// Times appending 100,000 rows to the shown results list against appending the
// same rows, converted the same way, to a plain vector.
#include <QApplication>
#include <QElapsedTimer>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/ResultsListView.h"

namespace {

constexpr int kRows = 100000;

using Input = std::array<std::u16string, 3>;

std::vector<Input> MakeRows() {
  std::vector<Input> rows;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    const std::u16string n = QString::number(i).toStdU16String();
    rows.push_back({u"\\\\srv1\\proj\\folder " + n + u"\\plan.docx",
                    u"\\\\srv2\\proj\\folder " + n + u"\\plan.docx",
                    u"/home/user/documents/tree/sub " + n + u"/report.odt"});
  }
  return rows;
}

double Milliseconds(const QElapsedTimer& clock) { return clock.nsecsElapsed() / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::vector<Input> rows = MakeRows();

  QElapsedTimer clock;
  clock.start();
  std::vector<std::array<QString, 3>> plain;
  for (const Input& row : rows) {
    plain.push_back({QString::fromStdU16String(row[0]), QString::fromStdU16String(row[1]),
                     QString::fromStdU16String(row[2])});
  }
  const double baseline = Milliseconds(clock);

  quavelle::ResultsListView list;
  list.SetUp();
  list.resize(706, 227);
  list.show();
  QApplication::processEvents();
  clock.restart();
  for (const Input& row : rows) list.AppendRow(row[0], row[1], row[2]);
  const double appended = Milliseconds(clock);
  clock.restart();
  list.scrollToBottom();
  list.repaint();
  QApplication::processEvents();
  const double painted = Milliseconds(clock);

  std::printf("rows appended:           %d (list holds %d)\n", kRows, list.model()->rowCount());
  std::printf("baseline vector append:  %8.1f ms\n", baseline);
  std::printf("results list AppendRow:  %8.1f ms  (%.1fx baseline)\n", appended,
              appended / baseline);
  std::printf("then scroll and repaint: %8.1f ms\n", painted);
  return list.model()->rowCount() == kRows ? 0 : 1;
}
